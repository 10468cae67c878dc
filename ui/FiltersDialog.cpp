#include "FiltersDialog.h"

#include "AccountWidgets.h"
#include "DialogFit.h"
#include "FilterLists.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>

namespace {

enum Column { ColCampo = 0, ColTexto = 1 };
const QString kFrom = u"FROM"_qs;
const QString kSubj = u"SUBJ"_qs;

} // namespace

TfrmFiltros::TfrmFiltros(const DialogContext& context, TFiltros& lists, std::function<void()> listsChanged)
    : QDialog(context.owner), m_messageBox(context.messageBox), m_lists(lists),
      m_listsChanged(std::move(listsChanged)) {
    setObjectName(u"frmFiltros"_qs);
    setWindowTitle(u"Filtros de correo:"_qs);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    setFixedSize(278, 289);

    GroupBox1 = new QGroupBox(u" Datos del filtro: "_qs, this);
    GroupBox1->setObjectName(u"GroupBox1"_qs);
    GroupBox1->setGeometry(8, 8, 261, 108);
    edtTexto = new QLineEdit(GroupBox1);
    edtTexto->setObjectName(u"edtTexto"_qs);
    edtTexto->setGeometry(92, 20, 161, 21);
    edtTexto->installEventFilter(this);
    connect(edtTexto, &QLineEdit::textChanged, this, &TfrmFiltros::edtTextoChange);
    cbCampo = new QComboBox(GroupBox1);
    cbCampo->setObjectName(u"cbCampo"_qs);
    cbCampo->setGeometry(92, 46, 100, 21);
    cbCampo->addItems({u"FROM"_qs, u"SUBJECT"_qs});
    auto label = [this](const QString& name, const QString& caption, int top, QWidget* buddy) {
        auto* l = new QLabel(caption, GroupBox1);
        l->setObjectName(name);
        l->setGeometry(8, top, 80, 21);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setBuddy(buddy);
        return l;
    };
    lblTexto = label(u"lblTexto"_qs, u"Que contenga:"_qs, 20, edtTexto);
    lblCampo = label(u"lblCampo"_qs, u"En el campo:"_qs, 46, cbCampo);
    // The labels' column grows with their texts (a larger font), the fields move right with it.
    const int labelsWidth = std::max({80, lblTexto->sizeHint().width(), lblCampo->sizeHint().width()});
    for (QLabel* l : {lblTexto, lblCampo})
        l->resize(labelsWidth, l->height());
    edtTexto->move(8 + labelsWidth + 4, edtTexto->y());
    cbCampo->move(8 + labelsWidth + 4, cbCampo->y());

    auto button = [this](const QString& name, const QString& caption, int left, void (TfrmFiltros::*handler)()) {
        auto* b = new QPushButton(caption, GroupBox1);
        b->setObjectName(name);
        b->setGeometry(left, 76, 58, 25);
        b->setAutoDefault(false); // Enter is the text field's own
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    btnAdd = button(u"btnAdd"_qs, u"&Añadir"_qs, 8, &TfrmFiltros::btnAddClick);
    btnModificar = button(u"btnModificar"_qs, u"&Modificar"_qs, 70, &TfrmFiltros::btnModificarClick);
    btnEliminar = button(u"btnEliminar"_qs, u"&Eliminar"_qs, 132, &TfrmFiltros::btnEliminarClick);
    btnSalir = button(u"btnSalir"_qs, u"&Salir"_qs, 194, &TfrmFiltros::btnSalirClick);
    // Each button is at least as wide as its caption needs, the next one after it.
    int right = 8;
    for (QPushButton* b : {btnAdd, btnModificar, btnEliminar, btnSalir}) {
        const int caption = b->fontMetrics().horizontalAdvance(QString(b->text()).remove(u'&'));
        b->setGeometry(right, b->y(), std::max(58, caption + 16), b->height());
        right = b->geometry().right() + 5;
    }
    const int contentWidth = std::max({261, right + 3, edtTexto->geometry().right() + 9});
    GroupBox1->resize(contentWidth, GroupBox1->height());
    setFixedSize(contentWidth + 17, height());
    btnAdd->setEnabled(false);
    btnModificar->setEnabled(false);
    btnEliminar->setEnabled(false);
    setTabOrder(edtTexto, cbCampo);
    setTabOrder(cbCampo, btnAdd);
    setTabOrder(btnAdd, btnModificar);
    setTabOrder(btnModificar, btnEliminar);
    setTabOrder(btnEliminar, btnSalir);

    ListView = new QTreeWidget(this);
    ListView->setObjectName(u"ListView"_qs);
    ListView->setGeometry(8, 119, GroupBox1->width(), 162);
    ListView->setHeaderLabels({u"Campo"_qs, u"Que contenga:"_qs});
    ListView->setColumnWidth(ColCampo, 50);
    ListView->setColumnWidth(ColTexto, 207);
    SetUpReportList(ListView);
    ListView->viewport()->installEventFilter(this);
    FitToFont(this);
    FitToScreen(this);
}

void TfrmFiltros::showModal() {
    exec();
}

void TfrmFiltros::reject() {}

QMessageBox::StandardButton TfrmFiltros::message(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                                 QMessageBox::StandardButtons buttons) {
    return m_messageBox(this, icon, caption, text, buttons, QMessageBox::NoButton);
}

bool TfrmFiltros::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtTexto && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            edtTextoKeyPress();
            return true;
        }
    }
    if (watched == ListView->viewport()) {
        bool released = false;
        if (FilterReportListClick(ListView, event, released)) return true;
        if (released) ListViewClick();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmFiltros::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmFiltros::FormShow() {
    ListView->clear();
    auto addRows = [this](const QString& field, const QStringList& fragments) {
        for (const QString& fragment : fragments)
            ListView->addTopLevelItem(new QTreeWidgetItem({field, fragment}));
    };
    addRows(kFrom, m_lists.From);
    addRows(kSubj, m_lists.Subj);
    edtTexto->clear();
    cbCampo->setCurrentIndex(0);
    btnModificar->setEnabled(false);
    btnEliminar->setEnabled(false);
    edtTexto->setFocus();
}

void TfrmFiltros::edtTextoChange() {
    btnAdd->setEnabled(!edtTexto->text().isEmpty());
}

void TfrmFiltros::edtTextoKeyPress() {
    if (cbCampo->currentIndex() < 0)
        cbCampo->setFocus();
    else if (!edtTexto->text().isEmpty())
        btnAddClick();
}

QTreeWidgetItem* TfrmFiltros::firstSelectedRow() const {
    for (int i = 0; i < ListView->topLevelItemCount(); ++i)
        if (ListView->topLevelItem(i)->isSelected()) return ListView->topLevelItem(i);
    return nullptr;
}

QString TfrmFiltros::chosenField() const {
    switch (cbCampo->currentIndex()) {
    case 0:
        return kFrom;
    case 1:
        return kSubj;
    default:
        return {};
    }
}

void TfrmFiltros::ListViewClick() {
    QTreeWidgetItem* row = firstSelectedRow();
    CurrentIndex = row ? ListView->indexOfTopLevelItem(row) : ListView->topLevelItemCount();
    if (!row) {
        edtTexto->clear();
        cbCampo->setCurrentIndex(-1);
        btnModificar->setEnabled(false);
        btnEliminar->setEnabled(false);
        return;
    }
    edtTexto->setText(row->text(ColTexto));
    // Any other field name leaves the choice as it was.
    if (row->text(ColCampo) == kFrom)
        cbCampo->setCurrentIndex(0);
    else if (row->text(ColCampo) == kSubj)
        cbCampo->setCurrentIndex(1);
    btnModificar->setEnabled(true);
    btnEliminar->setEnabled(true);
}

bool TfrmFiltros::textWritable() {
    if (!RefuseUnwritableText(m_messageBox, this, edtTexto->text())) return true;
    edtTexto->setFocus(); // the text stays as typed
    return false;
}

void TfrmFiltros::btnAddClick() {
    const QString field = chosenField();
    if (field.isEmpty()) {
        message(QMessageBox::Critical, u"Imposible añadir"_qs, u"Debe escoger un Campo (from, subj)"_qs,
                QMessageBox::Ok);
        cbCampo->setFocus();
        return;
    }
    if (!textWritable()) return;
    // A filter already in the list may be added again.
    ListView->addTopLevelItem(new QTreeWidgetItem({field, edtTexto->text()}));
    btnModificar->setEnabled(false);
    edtTexto->selectAll(); // typing replaces it
}

void TfrmFiltros::btnModificarClick() {
    QTreeWidgetItem* row = ListView->topLevelItem(CurrentIndex);
    if (!row || !textWritable()) return;
    if (const QString field = chosenField(); !field.isEmpty()) row->setText(ColCampo, field);
    row->setText(ColTexto, edtTexto->text()); // an empty text too
    ListView->scrollToItem(row);
    ListView->setCurrentItem(row);
    ListView->setFocus();
}

void TfrmFiltros::btnEliminarClick() {
    QTreeWidgetItem* row = firstSelectedRow();
    if (!row) return;
    const QString text = u"¿Está seguro de que desea eliminar el filtro: \r\r\""_qs + row->text(ColCampo) + u": "_qs +
                         row->text(ColTexto) + u"\"?"_qs;
    if (message(QMessageBox::Question, u"Confirmación de eliminación"_qs, text,
                QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    delete row;
    ListView->clearSelection();
    btnModificar->setEnabled(false);
    btnEliminar->setEnabled(false);
}

void TfrmFiltros::btnSalirClick() {
    m_lists.From.clear();
    m_lists.Subj.clear();
    for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListView->topLevelItem(i);
        if (row->text(ColCampo) == kFrom)
            m_lists.From.append(row->text(ColTexto));
        else if (row->text(ColCampo) == kSubj)
            m_lists.Subj.append(row->text(ColTexto));
    }
    m_listsChanged();
    accept();
}
