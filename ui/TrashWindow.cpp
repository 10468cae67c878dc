#include "TrashWindow.h"

#include "Errors.h"
#include "ShownText.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {
enum Column { ColumnCuenta, ColumnRemitente, ColumnAsunto, ColumnFecha, ColumnMotivo };
constexpr int kCopyIndex = Qt::UserRole; ///< a row's position in m_copias

/** The account's cells shorten in the middle: the port at the end tells two accounts on one server
 *  apart. */
class MiddleElided final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};
} // namespace

TfrmPapelera::TfrmPapelera(const DialogContext& context, TPapelera& papelera)
    : QDialog(context.owner), m_context(context), m_papelera(papelera) {
    setObjectName(u"frmPapelera"_qs);
    setModal(true);
    setWindowTitle(u"Papelera"_qs);
    resize(880, 400);

    ListView = new QTreeWidget(this);
    ListView->setObjectName(u"ListView"_qs);
    ListView->setRootIsDecorated(false);
    ListView->setUniformRowHeights(true);
    ListView->setAllColumnsShowFocus(true);
    ListView->setHeaderLabels({u"Cuenta"_qs, u"Remitente"_qs, u"Asunto"_qs, u"Fecha"_qs, u"Motivo"_qs});
    ListView->setTextElideMode(Qt::ElideRight);
    ListView->setItemDelegateForColumn(ColumnCuenta, new MiddleElided(ListView));
    // Every column within the window's width: the subject takes what the others leave (fitColumns).
    ListView->header()->setStretchLastSection(false);
    ListView->header()->setSectionResizeMode(QHeaderView::Interactive);
    ListView->header()->setSectionResizeMode(ColumnAsunto, QHeaderView::Stretch);
    ListView->viewport()->installEventFilter(this);
    connect(ListView, &QTreeWidget::itemSelectionChanged, this, &TfrmPapelera::updateButtons);
    connect(ListView, &QTreeWidget::itemDoubleClicked, this, &TfrmPapelera::btnAbrirClick);

    auto button = [this](const QString& name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    btnAbrir = button(u"btnAbrir"_qs, u"&Abrir"_qs);
    btnGuardarComo = button(u"btnGuardarComo"_qs, u"&Guardar como..."_qs);
    btnCerrar = button(u"btnCerrar"_qs, u"&Cerrar"_qs);
    connect(btnAbrir, &QPushButton::clicked, this, &TfrmPapelera::btnAbrirClick);
    connect(btnGuardarComo, &QPushButton::clicked, this, &TfrmPapelera::btnGuardarComoClick);
    connect(btnCerrar, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAbrir);
    buttons->addWidget(btnGuardarComo);
    buttons->addStretch();
    buttons->addWidget(btnCerrar);
    auto* root = new QVBoxLayout(this);
    root->addWidget(ListView);
    root->addLayout(buttons);
    updateButtons();
}

int TfrmPapelera::ShowModal() {
    Refrescar();
    return exec();
}

void TfrmPapelera::Refrescar() {
    ListView->clear();
    m_copias = m_papelera.Copias();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(m_copias.size());
    for (qsizetype i = 0; i < m_copias.size(); ++i) {
        const TCopiaPapelera& c = m_copias[i];
        auto* row = new QTreeWidgetItem({ShownText(c.Cuenta), ShownText(c.Remitente), ShownText(c.Asunto),
                                         ShownText(c.Fecha), ShownText(c.Motivo)});
        // A cell too narrow for its text ends in "…"; the whole text is in its tooltip.
        for (int column = ColumnCuenta; column <= ColumnMotivo; ++column)
            row->setToolTip(column, row->text(column));
        row->setData(ColumnCuenta, kCopyIndex, int(i));
        rows.append(row);
    }
    ListView->addTopLevelItems(rows);
    if (!rows.isEmpty()) ListView->setCurrentItem(rows.first());
    fitColumns();
    updateButtons();
}

void TfrmPapelera::fitColumns() {
    // Each column as wide as its widest cell, up to a share of the list's width, so that the reason
    // is always on the screen; the subject stretches over the rest.
    struct Share {
        int column;
        double most;
    };
    const int width = ListView->viewport()->width();
    const QAbstractItemView* view = ListView; // the widest cell: public in the base class
    for (const Share& s : {Share{ColumnCuenta, 0.22}, Share{ColumnRemitente, 0.2}, Share{ColumnFecha, 0.16},
                           Share{ColumnMotivo, 0.24}}) {
        const int wanted = std::max(view->sizeHintForColumn(s.column), ListView->header()->sectionSizeHint(s.column));
        ListView->setColumnWidth(s.column, std::min(wanted, int(width * s.most)));
    }
}

bool TfrmPapelera::eventFilter(QObject* watched, QEvent* event) {
    // The list's own width, once its layout has given it one.
    if (watched == ListView->viewport() && event->type() == QEvent::Resize) fitColumns();
    return QDialog::eventFilter(watched, event);
}

const TCopiaPapelera* TfrmPapelera::selectedCopy() const {
    const QList<QTreeWidgetItem*> selected = ListView->selectedItems();
    if (selected.isEmpty()) return nullptr;
    const int i = selected.first()->data(ColumnCuenta, kCopyIndex).toInt();
    return i >= 0 && i < m_copias.size() ? &m_copias[i] : nullptr;
}

void TfrmPapelera::updateButtons() {
    const bool one = selectedCopy() != nullptr;
    btnAbrir->setEnabled(one);
    btnGuardarComo->setEnabled(one);
}

bool TfrmPapelera::exportCopy(const TCopiaPapelera& copy, const QString& target) {
    try {
        m_papelera.Exportar(copy.Archivo, target);
        return true;
    } catch (const EInOutError& e) {
        m_context.messageBox(this, QMessageBox::Warning, u"Papelera"_qs,
                             u"No se pudo copiar el mensaje:\r"_qs + e.message(), QMessageBox::Ok,
                             QMessageBox::NoButton);
        Refrescar(); // the copy may be gone
        return false;
    }
}

void TfrmPapelera::btnAbrirClick() {
    const TCopiaPapelera* copy = selectedCopy();
    if (!copy) return;
    // A file of its own with the extension mail programs open, left for the program to read.
    const QString path = m_opened.filePath(copy->Archivo + u".eml"_qs);
    if (!exportCopy(*copy, path)) return;
    if (!m_context.openUrl(QUrl::fromLocalFile(path)))
        m_context.messageBox(this, QMessageBox::Warning, u"Papelera"_qs,
                             u"No hay ningún programa para abrir el mensaje."_qs, QMessageBox::Ok,
                             QMessageBox::NoButton);
}

void TfrmPapelera::btnGuardarComoClick() {
    const TCopiaPapelera* copy = selectedCopy();
    if (!copy) return;
    QString proposal = (copy->Asunto.isEmpty() ? u"mensaje"_qs : copy->Asunto).left(60);
    for (QChar& ch : proposal)
        if (ch == u'/' || ch == u'\\' || ch == u':' || ch.category() == QChar::Other_Control) ch = u'_';
    const QString target = m_context.saveFileName(this, u"Guardar copia del mensaje"_qs,
                                                  QDir(SaveFolder()).filePath(proposal + u".eml"_qs),
                                                  u"Mensajes de correo (*.eml);;Todos los archivos (*)"_qs);
    if (!target.isEmpty()) exportCopy(*copy, target);
}

QString TfrmPapelera::SaveFolder() {
    // Never the program's own folder (where a relative name would land).
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}
