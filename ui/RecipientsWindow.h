// The recipients window: sender, subject and date of one message on the server and every recipient
// of its To and Cc headers, from which an e-mail can be started or an address copied.
#pragma once

#include "DialogContext.h"

#include <QDialog>
#include <QStringList>

class GridList;
class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;

class TfrmDestinatarios final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmDestinatarios)
public:
    /** @short Builds the window, hidden and modal, owned by context.owner; it opens mail to an
     *  address through context.openUrl. */
    explicit TfrmDestinatarios(const DialogContext& context);

    /** @short Replaces the rows with one per recipient, in order (an empty list leaves no row). */
    void SetRecipients(const QStringList& recipients);
    /** @short Adds a row (blanks around the text removed, encoded words decoded) and lets the
     *  window grow 14 pixels a row from the seventh row to the sixteenth. */
    void AddRecipient(const QString& recipient);
    /** @short The address of the selected row: what follows its first "<" without the last
     *  character, or the whole caption without "<"; empty with no row selected. */
    QString SelectedAddress() const;
    /** @short Shows the window modally until Enter, Esc or the close box. */
    int ShowModal() { return exec(); }

    void PopupListViewPopup();
    void mnuPopupListViewEnviarEMailClick();
    void mnuPopupListViewCopiarDireccionClick();
    void btnOKClick();

    QFrame* Bevel1 = nullptr;
    QFrame* BevelFrom = nullptr;
    QFrame* BevelSubj = nullptr;
    QFrame* BevelDate = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lblFrom = nullptr;
    QLabel* lblSubject = nullptr;
    QLabel* lblDate = nullptr;
    GridList* ListView = nullptr;
    QPushButton* btnOK = nullptr;
    QMenu* PopupListView = nullptr;
    QAction* mnuPopupListViewEnviarEMail = nullptr;
    QAction* mnuPopupListViewCopiarDireccion = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    /** A change of font (the desktop's) lays the header lines out again. */
    void changeEvent(QEvent* event) override;

private:
    void FormCreate();
    void FormResize();

    /** @short The first selected row's text, as shown. */
    QString selectedText() const;

    decltype(DialogContext::openUrl) m_openUrl;
    MessageBoxSeam m_messageBox;
};
