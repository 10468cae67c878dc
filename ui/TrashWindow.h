// The Papelera window: the copies kept before deletion, newest first, each opened in the desktop's
// mail program or saved to a file of the user's choice.
#pragma once

#include "DialogContext.h"
#include "RecycleBin.h"

#include <QDialog>
#include <QList>
#include <QTemporaryDir>

class QPushButton;
class QTreeWidget;

class TfrmPapelera final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmPapelera)
public:
    /** @short Builds the window, hidden and modal, owned by context.owner, over the Papelera `papelera`;
     *  a copy is opened through context.openUrl and saved where context.saveFileName says. */
    TfrmPapelera(const DialogContext& context, TPapelera& papelera);

    /** @short Lists the copies afresh and shows the window modally until Cerrar, Esc or the close box. */
    int ShowModal();
    /** @short Fills the list from the Papelera (one row a copy, newest first). */
    void Refrescar();

    void btnAbrirClick();
    void btnGuardarComoClick();
    /** @short Where "Guardar como..." starts: the user's Documents folder, or the home folder when
     *  there is none. */
    static QString SaveFolder();

    QTreeWidget* ListView = nullptr;
    QPushButton* btnAbrir = nullptr;
    QPushButton* btnGuardarComo = nullptr;
    QPushButton* btnCerrar = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /** The columns' widths for the list's width: the reason never off the screen. */
    void fitColumns();
    /** The copy of the selected row, or null. */
    const TCopiaPapelera* selectedCopy() const;
    /** Writes the copy to `target`; false (the error shown, the list refreshed) when it cannot. */
    bool exportCopy(const TCopiaPapelera& copy, const QString& target);
    void updateButtons();

    DialogContext m_context;
    TPapelera& m_papelera;
    QList<TCopiaPapelera> m_copias;
    QTemporaryDir m_opened; ///< the .eml files handed to the mail program, removed at exit
};
