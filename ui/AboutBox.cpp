#include "AboutBox.h"

#include "Artwork.h"
#include "DialogFit.h"
#include "StyledTextView.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace {

constexpr int kWidth = 312;
constexpr int kHeight = 246;
constexpr int kMargin = 8;

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, int top,
                  Qt::Alignment alignment = Qt::AlignHCenter) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setGeometry(kMargin, top, kWidth - 2 * kMargin, 16);
    return label;
}

} // namespace

QUrl TfrmAbout::WebPage() {
    return QUrl(u"https://tavelo.example.org/"_qs);
}

TfrmAbout::TfrmAbout(const DialogContext& context) : QDialog(context.owner), m_openUrl(context.openUrl) {
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setWindowTitle(u"Acerca de"_qs);
    setFixedSize(kWidth, kHeight);

    Bevel2 = new QFrame(this);
    Bevel2->setObjectName(u"Bevel2"_qs);
    Bevel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel2->setGeometry(kMargin, kMargin, 40, 40);
    imgIcono = new QLabel(Bevel2);
    imgIcono->setObjectName(u"imgIcono"_qs);
    const QIcon icon = context.owner->windowIcon().isNull() ? MakeTrayImages().value(0) : context.owner->windowIcon();
    imgIcono->setPixmap(icon.pixmap(32, 32));
    imgIcono->setGeometry(4, 4, 32, 32);

    lblVersion = new QLabel(u"Tavelo v2.0 (Beta 1)"_qs, this);
    lblVersion->setObjectName(u"lblVersion"_qs);
    QFont big = lblVersion->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    lblVersion->setFont(big);
    lblVersion->setAlignment(Qt::AlignCenter);
    lblVersion->setGeometry(56, 10, kWidth - 56 - kMargin, 22);
    lblFecha = new QLabel(u"21-Julio-2002"_qs, this);
    lblFecha->setObjectName(u"lblFecha"_qs);
    lblFecha->setAlignment(Qt::AlignCenter);
    lblFecha->setGeometry(56, 32, kWidth - 56 - kMargin, 16);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(u"Bevel1"_qs);
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setGeometry(kMargin, 56, kWidth - 2 * kMargin, 2);

    Label2 = makeLabel(this, u"Label2"_qs, u"Programado por el equipo de Tavelo"_qs, 64);
    Label1 = makeLabel(this, u"Label1"_qs, u"Esta versión continúa directamente la"_qs, 90, Qt::AlignLeft);
    Label3 = makeLabel(this, u"Label3"_qs, u"versión 0.6 del mismo programa: entre"_qs, 106, Qt::AlignLeft);
    Label4 = makeLabel(this, u"Label4"_qs, u"ambas no hubo ninguna otra versión."_qs, 122, Qt::AlignLeft);
    Label5 = makeLabel(this, u"Label5"_qs, u"Muchas gracias al equipo de Tavelo"_qs, 148, Qt::AlignLeft);
    Label6 = makeLabel(this, u"Label6"_qs, u"por probar cada versión Beta y por"_qs, 164, Qt::AlignLeft);
    Label7 = makeLabel(this, u"Label7"_qs, u"todas sus sugerencias y avisos."_qs, 180, Qt::AlignLeft);

    // The last line, "site: link", is centred as a whole.
    Label8 = new QLabel(u"Este programa y muchos más en:"_qs, this);
    Label8->setObjectName(u"Label8"_qs);
    Label9 = new QLabel(WebPage().host(), this);
    Label9->setObjectName(u"Label9"_qs);
    Label9->setTextFormat(Qt::PlainText);
    QFont link = Label9->font();
    link.setUnderline(true);
    Label9->setFont(link);
    QPalette palette = Label9->palette();
    palette.setColor(QPalette::WindowText, ReadableColor(QColor(0, 0, 204), palette.color(QPalette::Window)));
    Label9->setPalette(palette);
    Label9->setCursor(Qt::PointingHandCursor);
    Label9->installEventFilter(this);
    // Wide desktop fonts may not fit the line in the box: make both smaller until it does.
    auto lineWidth = [this] { return Label8->sizeHint().width() + 4 + Label9->sizeHint().width(); };
    for (int step = 0; step < 4 && lineWidth() > kWidth - 2 * kMargin; ++step) {
        for (QLabel* label : {Label8, Label9}) {
            QFont smaller = label->font();
            smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
            label->setFont(smaller);
        }
    }
    const int w8 = Label8->sizeHint().width(), w9 = Label9->sizeHint().width();
    const int left = std::max(kMargin, (kWidth - w8 - 4 - w9) / 2);
    Label8->setGeometry(left, 212, w8, 16);
    Label9->setGeometry(left + w8 + 4, 212, w9, 16);

    btnSalir = new QPushButton(u"Salir"_qs, this);
    btnSalir->setObjectName(u"btnSalir"_qs);
    btnSalir->setAutoDefault(false);
    btnSalir->setFocusPolicy(Qt::NoFocus);
    connect(btnSalir, &QPushButton::clicked, this, &TfrmAbout::btnSalirClick);
    FormCreate();
    FitToFont(this);
    FitToScreen(this);
}

void TfrmAbout::FormCreate() {
    // Out of sight: the box closes with Esc (which any dialog answers) or its close button.
    btnSalir->setGeometry(-100, kHeight - 33, 75, 25);
}

void TfrmAbout::btnSalirClick() {
    reject();
}

void TfrmAbout::Label9Click() {
    m_openUrl(WebPage());
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label9 && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Label9->rect().contains(mouse->position().toPoint())) {
            Label9Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
