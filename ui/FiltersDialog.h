// The filters dialog: the sender and subject fragments edited by hand as rows of one list. Each
// showing starts from the two lists it edits; only "&Salir" writes the rows back into them and has
// Filtros.dat saved.
#pragma once

#include "DialogContext.h"

#include <QDialog>
#include <QMessageBox>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TFiltros;

class TfrmFiltros final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmFiltros)
public:
    /** @short Builds the dialog, hidden and modal, owned by context.owner, over the filter lists
     *  `lists`; `listsChanged` is called once "&Salir" has written the rows back (to save them). */
    TfrmFiltros(const DialogContext& context, TFiltros& lists, std::function<void()> listsChanged);

    /** @short Shows the dialog modally (rows rebuilt from the filter lists) and returns when the
     *  user has left it with "&Salir". The owner centres it first. */
    void showModal();

    // Handlers.
    void FormShow();
    void edtTextoChange();
    void ListViewClick();
    void btnAddClick();
    void btnModificarClick();
    void btnEliminarClick();
    void btnSalirClick();

    /** The row found by the last click on the list; the row count when it found none. */
    int CurrentIndex = 0;

    // Controls.
    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblTexto = nullptr;
    QLineEdit* edtTexto = nullptr;
    QLabel* lblCampo = nullptr;
    /** "FROM" (0) and "SUBJECT" (1); no entry chosen is index -1. */
    QComboBox* cbCampo = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnModificar = nullptr;
    QPushButton* btnEliminar = nullptr;
    QPushButton* btnSalir = nullptr;
    /** Columns: field ("FROM" or "SUBJ"), fragment. */
    QTreeWidget* ListView = nullptr;

public slots:
    /** @short Esc and the window's close do nothing: "&Salir" is the way out. */
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    /** @short Enter: to the field choice when none is made, otherwise adds a non-empty text. */
    void edtTextoKeyPress();
    QTreeWidgetItem* firstSelectedRow() const;
    /** @short "FROM" or "SUBJ" for the entry chosen in cbCampo; empty when none is. */
    QString chosenField() const;
    /** @short False (after saying so) when the text has characters Filtros.dat cannot hold. */
    bool textWritable();
    QMessageBox::StandardButton message(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons);

    MessageBoxSeam m_messageBox;
    TFiltros& m_lists;
    std::function<void()> m_listsChanged;
};
