// The rules dialog: Reglas.dat as text, with the lines that do not parse or compile listed as the
// user types, and a field where a pasted header shows which rule would decide about it. Nothing is
// written until "Guardar".
#pragma once

#include "DialogContext.h"

#include <QDialog>
#include <QTimer>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class TFiltros;

class TfrmReglas final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmReglas)
public:
    /** @short Builds the dialog (hidden, modal, owned by context.owner) on the file `rulesPath`;
     *  `lists` are the filter lists the test field decides with; `saved` is called after a write. */
    TfrmReglas(const DialogContext& context, const QString& rulesPath, const TFiltros& lists,
               std::function<void()> saved);

    /** @short Loads the file (a missing one is an empty text) and shows the dialog modally. */
    void showModal();

    /** @short The problems of the text now in the editor, and the test field's verdict. */
    void checkNow();
    void btnGuardarClick();

    QPlainTextEdit* edtReglas = nullptr;
    QListWidget* lstProblemas = nullptr;
    QPlainTextEdit* edtCabecera = nullptr;
    QLabel* lblResultado = nullptr;
    QPushButton* btnGuardar = nullptr;
    QPushButton* btnCancelar = nullptr;

private:
    void goToProblemLine();

    MessageBoxSeam m_messageBox;
    std::function<void(const AppError&)> m_reportError;
    QString m_path;
    const TFiltros& m_lists;
    std::function<void()> m_saved;
    QTimer m_recheck; ///< the text is checked a moment after the last keystroke
};
