#include "RecipientsWindow.h"

#include "AccountWidgets.h"
#include "DialogFit.h"
#include "EncodedWords.h"
#include "MailAddress.h"
#include "ShownText.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QUrl>

namespace {

constexpr int kMinWidth = 400;
constexpr int kMinHeight = 200;
constexpr int kRowStep = 14;   // pixels the window grows per recipient
constexpr int kMaxGrowth = 15; // rows after the first that still make it grow

} // namespace

TfrmDestinatarios::TfrmDestinatarios(const DialogContext& context)
    : QDialog(context.owner), m_openUrl(context.openUrl), m_messageBox(context.messageBox) {
    setWindowFlags(Qt::Tool);
    setModal(true);
    setWindowTitle(u"Destinatarios del mensaje #"_qs);
    setMinimumSize(kMinWidth, kMinHeight);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(u"Bevel1"_qs);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto headerLine = [this](int top, const QString& frameName, const QString& captionName, const QString& caption,
                             const QString& valueName, const QString& value, QFrame*& frame, QLabel*& captionLabel,
                             QLabel*& valueLabel) {
        frame = new QFrame(Bevel1);
        frame->setObjectName(frameName);
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->move(5, top);
        captionLabel = new QLabel(caption, frame);
        captionLabel->setObjectName(captionName);
        captionLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        captionLabel->setGeometry(1, 2, 40, 17);
        valueLabel = new QLabel(value, frame);
        valueLabel->setObjectName(valueName);
        // Senders look like "Ana <ana@example.es>": never let a label take that for markup.
        valueLabel->setTextFormat(Qt::PlainText);
        valueLabel->setGeometry(44, 2, 100, 17);
    };
    headerLine(5, u"BevelFrom"_qs, u"Label1"_qs, u"FROM:"_qs, u"lblFrom"_qs, u"from"_qs, BevelFrom, Label1, lblFrom);
    headerLine(28, u"BevelSubj"_qs, u"Label3"_qs, u"SUBJ:"_qs, u"lblSubject"_qs, u"subject"_qs, BevelSubj, Label3,
               lblSubject);
    headerLine(51, u"BevelDate"_qs, u"Label4"_qs, u"DATE:"_qs, u"lblDate"_qs, u"date"_qs, BevelDate, Label4, lblDate);

    ListView = new GridList(this);
    ListView->setObjectName(u"ListView"_qs);
    ListView->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView->setHeaderLabels({u"TO:"_qs});
    ListView->setHeaderHidden(true);
    ListView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The selection stays as visible when the list loses the focus.
    QPalette palette = ListView->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    ListView->setPalette(palette);

    PopupListView = new QMenu(this);
    PopupListView->setObjectName(u"PopupListView"_qs);
    mnuPopupListViewEnviarEMail = PopupListView->addAction(u"&Enviar un EMail"_qs);
    mnuPopupListViewEnviarEMail->setObjectName(u"mnuPopupListViewEnviarEMail"_qs);
    mnuPopupListViewCopiarDireccion = PopupListView->addAction(u"&Copiar dirección de EMail"_qs);
    mnuPopupListViewCopiarDireccion->setObjectName(u"mnuPopupListViewCopiarDireccion"_qs);
    connect(PopupListView, &QMenu::aboutToShow, this, &TfrmDestinatarios::PopupListViewPopup);
    connect(mnuPopupListViewEnviarEMail, &QAction::triggered, this,
            &TfrmDestinatarios::mnuPopupListViewEnviarEMailClick);
    connect(mnuPopupListViewCopiarDireccion, &QAction::triggered, this,
            &TfrmDestinatarios::mnuPopupListViewCopiarDireccionClick);
    ListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupListView->popup(ListView->viewport()->mapToGlobal(pos)); });

    btnOK = new QPushButton(u"OK"_qs, this);
    btnOK->setObjectName(u"btnOK"_qs);
    btnOK->setDefault(true);
    btnOK->setFocusPolicy(Qt::NoFocus);
    connect(btnOK, &QPushButton::clicked, this, &TfrmDestinatarios::btnOKClick);

    FormCreate();
    resize(420, 310);
    FormResize();
    FitToScreen(this);
}

void TfrmDestinatarios::FormCreate() {
    // Out of sight but still the default button: Enter closes the window (Esc closes any dialog).
    btnOK->setGeometry(-100, 0, 75, 25);
}

void TfrmDestinatarios::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TfrmDestinatarios::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange) FormResize();
}

void TfrmDestinatarios::FormResize() {
    // The smallest size, 400 x 200, is the window's minimum size: Qt snaps anything smaller to it.
    // The three lines are drawn for the usual font and grow with a larger one.
    const QFontMetrics fm = fontMetrics();
    const int labelHeight = std::max(17, fm.height() + 2);
    int captionWidth = 40;
    for (const QLabel* caption : {Label1, Label3, Label4}) // right-aligned: their ink must fit
        captionWidth = std::max(captionWidth, fm.boundingRect(caption->text()).right() + 1);
    const int lineHeight = labelHeight + 6, bevelHeight = 3 * lineHeight + 6;
    const int bevelWidth = width() - 8;
    Bevel1->setGeometry(4, 4, bevelWidth, bevelHeight);
    int top = 5;
    for (QFrame* frame : {BevelFrom, BevelSubj, BevelDate}) {
        frame->setGeometry(5, top, bevelWidth - 10, lineHeight);
        top += lineHeight;
    }
    for (QLabel* caption : {Label1, Label3, Label4})
        caption->setGeometry(1, 2, captionWidth, labelHeight);
    for (QLabel* label : {lblFrom, lblSubject, lblDate})
        label->setGeometry(captionWidth + 4, 2, bevelWidth - 14 - captionWidth, labelHeight);
    ListView->setGeometry(4, bevelHeight + 9, width() - 8, height() - bevelHeight - 26);
    ListView->setColumnWidth(0, ListView->width() - 20);
}

void TfrmDestinatarios::SetRecipients(const QStringList& recipients) {
    ListView->clearRows();
    for (const QString& r : recipients)
        AddRecipient(r);
}

void TfrmDestinatarios::AddRecipient(const QString& recipient) {
    // Decoding also removes the blanks (32 only) around the text.
    // Shown with its control characters made visible; the address is taken from the text as it is.
    const QString text = DecodificarTexto(recipient);
    auto* row = new QTreeWidgetItem(QStringList{ShownText(text)});
    row->setData(0, Qt::UserRole, text);
    ListView->appendRows({row});
    const int rows = ListView->rowCount();
    resize(width(), std::min(rows - 1, kMaxGrowth) * kRowStep + 120);
}

QString TfrmDestinatarios::selectedText() const {
    for (int r = 0; r < ListView->rowCount(); ++r)
        if (ListView->row(r)->isSelected()) return ListView->row(r)->data(0, Qt::UserRole).toString();
    return {};
}

QString TfrmDestinatarios::SelectedAddress() const {
    const QString s = selectedText();
    const qsizetype lt = s.indexOf(u'<');
    if (lt < 0) return s;
    // After the first "<", without the last character (normally the closing ">").
    return s.mid(lt + 1, std::max<qsizetype>(0, s.size() - lt - 2));
}

void TfrmDestinatarios::PopupListViewPopup() {
    const bool any = !ListView->selectedItems().isEmpty();
    mnuPopupListViewEnviarEMail->setEnabled(any);
    mnuPopupListViewCopiarDireccion->setEnabled(any);
}

void TfrmDestinatarios::mnuPopupListViewEnviarEMailClick() {
    // One plain address and nothing after it (a crafted value must not add parameters to the link).
    const QUrl url = MailtoUrl(MailAddressOf(selectedText()));
    if (!url.isValid()) {
        m_messageBox(this, QMessageBox::Warning, u"Enviar E-Mail"_qs,
                     u"El destinatario no tiene una dirección de correo válida."_qs, QMessageBox::Ok,
                     QMessageBox::NoButton);
        return;
    }
    m_openUrl(url);
}

void TfrmDestinatarios::mnuPopupListViewCopiarDireccionClick() {
    QGuiApplication::clipboard()->setText(SelectedAddress());
}

void TfrmDestinatarios::btnOKClick() {
    accept();
}
