// One account's tab of the main window: its page (message list, text pane, dialogue log, status
// bar), the wiring of its session, its lamp, its view modes and its reconnection countdown.
#pragma once

#include "MessageList.h"

#include <QByteArrayView>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>

class AccountPage;
class QFrame;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QWidget;
class StyledTextView;
class TPop3;
class TStatusPanels;
class TfrmPrincipal;

/** One open tab: its controls, its session and what the timers need to know about it. */
class TAccountTab final {
    Q_DISABLE_COPY_MOVE(TAccountTab)
public:
    /** The lamp on the tab: its image number is the position in this list. */
    enum class Look { Disconnected = 0, Busy, IdleWithMail, IdleEmpty };

    /** @short Builds the page at the size a page of the window has now and a session whose events
     *  go to the window's handlers; the page is not yet in the tab control (see addTo). */
    TAccountTab(TfrmPrincipal* window, QSize client);
    /** @short Takes the page out of the tab control; the page and the session, disconnected from
     *  the window, are deleted once control is back in the event loop. */
    ~TAccountTab();

    /** @short Adds the page to the tab control with the lamp of a disconnected account. */
    void addTo(QTabWidget* tabs, const QString& caption);

    // The look of the tab: its lamp, the list's cursor and the window's busy animation.
    void setLook(Look look);
    Look look() const { return m_look; }
    bool isBusy() const { return m_look == Look::Busy; }
    /** @short Plays the sound (and blinks the tray) unless the next announcement was silenced;
     *  either way the one after it is heard. */
    void announce(const QString& sound);
    void setStatus(const QString& connection, const QString& activity);
    /** @short Appends to the dialogue log; the log follows the text only when it was at its end. */
    void appendDialogue(const QString& text, int style);
    /** @short appendDialogue of Windows-1252 bytes. */
    void appendDialogue(QByteArrayView bytes, int style);

    // View modes: a hidden part comes back at the size it had when it was hidden.
    void showListOnly();
    void showListAndText();
    void showListTextAndDialogue();

    /** @short The text pane shows the first lines of the first selected message. */
    void showSelectedMessage();

    // The reconnection countdown, in the third panel of the status bar.
    bool countingDown() const { return ReconnectAt >= 1.0; }
    void startCountdown(double at, qint64 secondsLeft);
    void showCountdown(qint64 secondsLeft);
    void endCountdown();
    /** @short With a countdown shown, the activity panel leaves it the room its text needs. */
    void fitCountdownPanel();

    // What the session reports, shown in the tab.
    void sessionStateChanged(int estado, const QString& texto);
    void sessionDisconnectedByForce(const QString& motivo);
    void commandSent(const QString& comando);
    /** @short A read from the server, its bytes as they came (Windows-1252). */
    void textFromServer(const QByteArray& bytes);
    void encrypted(const QString& protocol, const QString& cipher);
    void notice(const QString& texto);
    void firstLinesReceived(int num);
    void messageDeleted(int num);
    void messageListEmptied();
    void connectionCompleted();

    /** The most the dialogue log keeps of one line from the server (more than a read brings). */
    static constexpr qsizetype kLogLineCap = 64 * 1024;

    // The controls and the session, for the window's commands.
    AccountPage* Sheet = nullptr;
    TStatusPanels* StatusBar = nullptr;
    QWidget* ContentPanel = nullptr;
    MessageList* ListView = nullptr;
    QSplitter* ListSplitter = nullptr;
    QWidget* LowerPanel = nullptr;
    QPlainTextEdit* TextMemo = nullptr;
    QSplitter* DialogueSplitter = nullptr;
    QFrame* DialoguePanel = nullptr;
    StyledTextView* DialogueView = nullptr;
    TPop3* POP3 = nullptr;

    int SavedLowerHeight = 0;
    int SavedDialogueWidth = 0;
    int ShownMessage = 0;
    QList<int> CopiasFallidas; ///< messages of the delete batch under way whose copy failed
    QString ErrorCopia;        ///< why the last copy of the batch could not be written, if it got that far
    bool HostBoxShown = false; ///< its "Servidor no encontrado" box is open or about to open
    double ReconnectAt = 0;
    double LastActivity = 0;
    bool Announce = true;

private:
    void buildPage(QSize client);
    /** @short The tab's name for screen readers: its caption and its state in words. */
    void nameForScreenReaders(int index);
    void buildSession();
    void showLower();
    int lowerHeight() const;
    int dialogueWidth() const;
    void fillMessageList();
    void updateHeaderProgress(int k);
    void fillHeaderColumns();
    QString summaryText() const;

    TfrmPrincipal* m_window;
    QPointer<QTabWidget> m_tabs;
    Look m_look = Look::Disconnected;
    qsizetype m_serverLineLength = 0;  ///< characters of the server's line the log is in the middle of
    qsizetype m_serverLineDropped = 0; ///< of them, those beyond what the log keeps of one line
};
