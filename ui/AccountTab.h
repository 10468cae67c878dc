// One account's tab of the main window: its page (message list, text pane, dialogue log, status
// bar), its session, its lamp, its view modes and its reconnection countdown. The tab is its
// session's only listener: a reply goes from the socket to the session, from the session to the tab,
// and from the tab to its row. The window hears from a tab only through the signals below.
#pragma once

#include "MessageList.h"
#include "Pop3Types.h"

#include <QByteArrayView>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class AccountPage;
class IDesktop;
class QFrame;
class QPushButton;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QWidget;
class StyledTextView;
class TPop3;
class TRVStyle;
class TStatusPanels;
struct TAdvancedSettings;
struct TConfig;
struct WindowSeams;

/** What a tab takes from the window, the same for every tab and for the whole run (the values
 *  pointed to may change: the settings dialog edits them). */
struct TabContext {
    QObject* owner = nullptr;                    ///< the parent of the sessions
    IDesktop* desktop = nullptr;                 ///< what a session asks of the desktop
    const WindowSeams* seams = nullptr;          ///< the clock, the sockets, the reply time limit
    const TConfig* config = nullptr;             ///< the sounds, the lines of TOP
    const TAdvancedSettings* advanced = nullptr; ///< pipelining
    const QList<QIcon>* lamps = nullptr;         ///< the lamp pictures, by TAccountTab::Look
    TRVStyle* logStyles = nullptr;               ///< the dialogue log's styles
    int commandStyle = 0;                        ///< the lines sent
    int serverStyle = 0;                         ///< the server's text
    int commentStyle = 0;                        ///< the program's own comments ("// ...")
};

/** One open tab: its controls, its session and what the timers need to know about it. */
class TAccountTab final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TAccountTab)
public:
    /** The lamp on the tab: its image number is the position in this list. */
    enum class Look { Disconnected = 0, Busy, IdleWithMail, IdleEmpty };

    /** @short Builds the page at the size a page of the window has now, and its session; the page
     *  is not yet in the tab control (see addTo). */
    TAccountTab(const TabContext& context, QSize client);
    /** @short Takes the page out of the tab control; the page and the session, no longer heard,
     *  are deleted once control is back in the event loop. */
    ~TAccountTab() override;

    /** @short Adds the page to the tab control with the lamp of a disconnected account. */
    void addTo(QTabWidget* tabs, const QString& caption);

    // The controls and the session, for the window's commands.
    AccountPage* page() const { return m_page; }
    MessageList* list() const { return m_list; }
    QPlainTextEdit* textPane() const { return m_textPane; }
    StyledTextView* dialogueView() const { return m_dialogueView; }
    TStatusPanels* statusBar() const { return m_statusBar; }
    /** @short The session, for the tests and the benchmark: the window goes through the tab. */
    TPop3* session() const { return m_session; }

    // The mailbox, through the session (AccountTab_Session.cpp): what the window's commands read
    // of it and ask of it.
    QString user() const;
    QString server() const;
    int port() const;
    /** @short Logged in with nothing under way: a command may be given. */
    bool isIdle() const;
    bool isDisconnected() const;
    /** @short Still waiting for the greeting, no byte from the server yet, more than 30 seconds
     *  after connecting: a host name that never resolved. */
    bool lookupStalled() const;
    int messageCount() const;
    /** @short The number, size and header fields of the message at that position of the server's
     *  list, or of that number (Num 0 when there is none). */
    TMensaje summaryAt(int index) const;
    TMensaje summary(int num) const;
    /** @short summary() with the first lines and recipients. */
    TMensaje message(int num) const;
    /** @short The header text kept of that message (only while the rules need it). */
    QString headerText(int num) const;
    /** @short The session keeps each message's header text, for the rules, or not. */
    void setKeepHeaderText(bool keep);
    void setKeepCopy(Pop3KeepCopy hook);
    void setAccessTokenSource(Pop3AccessTokenSource source);
    /** @short The password may go in clear to a server that offers no TLS (else only to this computer). */
    void setAllowPlaintext(bool allow);
    /** @short Logs in afresh; may throw ESocketError for an empty server name. */
    void connectTo(const QString& server, int port, const QString& user, const QString& password);
    void reconnect();
    /** @short Checks the mailbox again, and lists it again when it changed. Deletions that have
     *  waited a whole re-check interval are applied first (QUIT and a fresh login), so that the
     *  new mail behind them shows; newer ones wait, and Restaurar still undoes them. */
    void checkAgain();
    /** @short The last login was refused for its name or password: no retry with the same one. */
    bool accessDenied() const;
    /** @short The seconds the server asked to wait before the next login, else 0. */
    int loginDelay() const;
    /** @short The messages that were not in the list before the last listing, oldest first. */
    const QList<int>& newMessages() const { return m_newMessages; }
    /** @short QUIT (the deletions apply) and the disconnected state, with that reason. */
    void endSession(const QString& reason = {});
    void deleteMessages(const QStringList& numbers, const QStringList& reasons);
    void fetchFirstLines(int num, int lines);
    /** @short RSET; false when the session is busy and it was not sent. */
    bool restore();

    // The look of the tab: its lamp, the list's cursor and (through lookChanged) the window's busy
    // animation.
    void setLook(Look look);
    Look look() const { return m_look; }
    bool isBusy() const { return m_look == Look::Busy; }
    /** @short The next announcement (sound, blinking tray) is not heard; the one after it is. */
    void silenceNextAnnouncement() { m_announce = false; }
    void setStatus(const QString& connection, const QString& activity);
    /** @short Appends to the dialogue log; the log follows the text only when it was at its end. */
    void appendDialogue(const QString& text, int style);
    /** @short The dialogue log keeps what the settings allow (LimiteDialogoMB). */
    void applyLogLimit();
    /** @short appendDialogue of Windows-1252 bytes. */
    void appendDialogue(QByteArrayView bytes, int style);

    // View modes: a hidden part comes back at the size it had when it was hidden.
    void showListOnly();
    void showListAndText();
    void showListTextAndDialogue();

    /** @short The text pane shows the first lines of the first selected message. */
    void showSelectedMessage();
    /** @short The number of the message the text pane shows, 0 for none. */
    int shownMessage() const { return m_shownMessage; }

    // The re-check and the reconnection countdown, in the third panel of the status bar.
    /** @short When the session last did something (the window's clock): the re-check counts from it. */
    double lastActivity() const { return m_lastActivity; }
    bool countingDown() const { return m_reconnectAt >= 1.0; }
    double reconnectAt() const { return m_reconnectAt; }
    void startCountdown(double at, qint64 secondsLeft);
    void showCountdown(qint64 secondsLeft);
    void endCountdown();
    /** @short With a countdown shown, the activity panel leaves it the room its text needs. */
    void fitCountdownPanel();

    // The delete batch under way: the messages whose copy failed, told in one box when it ends.
    /** @short Why the last copy of the batch could not be written (the Papelera's error). */
    void setCopyError(const QString& why) { m_copyError = why; }
    /** @short The messages whose copy failed and why, emptied for the next batch. */
    QList<int> takeFailedCopies(QString* why);

    /** @short The host-name failure's box is open or about to open (one box at a time). */
    bool hostBoxShown() const { return m_hostBoxShown; }
    void setHostBoxShown(bool shown) { m_hostBoxShown = shown; }

    /** The most the dialogue log keeps of one line from the server (more than a read brings). */
    static constexpr qsizetype kLogLineCap = 64 * 1024;

signals:
    /** The lamp changed (the window's busy animation follows the active tab's). */
    void lookChanged(TAccountTab* tab);
    /** A sound was played for this tab: the tray icon blinks while the window is hidden there. */
    void announced(TAccountTab* tab);
    /** A connection or re-check found mail: the desktop may be told. */
    void mailFound(TAccountTab* tab);
    /** The header pass is over and every row is complete (the filtering may run). */
    void connectionCompleted(TAccountTab* tab);
    /** No connection could be made (the server's name not found, refused, no answer): the box to show. */
    void connectionFailed(TAccountTab* tab, const QString& caption, const QString& text);
    /** "Revisar cuenta..." was pressed: the account's login was refused. */
    void reviewAccountRequested(TAccountTab* tab);
    /** A delete batch in which copies failed is over (takeFailedCopies says which). */
    void copiesFailed(TAccountTab* tab);
    /** The page or the message list changed size, or rows came. */
    void pageResized(TAccountTab* tab);
    void listResized(TAccountTab* tab);
    /** The rows' menu was asked for, at that point of the screen. */
    void rowMenuRequested(TAccountTab* tab, const QPoint& globalPos);
    /** Delete was pressed in the list: what " Eliminar " does. */
    void deleteRequested(TAccountTab* tab);

protected:
    /** The list's font changed (the desktop's): its least height and columns follow. */
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPage(QSize client);
    /** The splitter never gives the message list less room than its header and eight rows. */
    void keepEightRows();
    void buildSession();
    /** @short The tab's name for screen readers: its caption and its state in words. */
    void nameForScreenReaders(int index);
    /** @short Plays the sound (and blinks the tray) unless the next announcement was silenced;
     *  either way the one after it is heard. */
    void announce(const QString& sound);
    void showLower();
    int lowerHeight() const;
    int dialogueWidth() const;
    QString summaryText() const;
    /** @short The rows that were not there at the last listing become newMessages(). */
    void noteNewMessages();
    /** @short Writes what has come of the server's line the log is in the middle of, if anything. */
    void flushServerLine();
    /** @short The server's line is over: the rest of it is written, and how much was left out. */
    void endServerLine();
    void appendServerLines(QByteArrayView lines);
    /** @short Continues the server's line with a piece of it; ends: the piece ends the line. */
    void addToServerLine(QByteArrayView piece, bool ends);

    // What the session reports (AccountTab_Session.cpp).
    void sessionStateChanged(int estado, const QString& texto);
    void sessionDisconnectedByForce(const QString& motivo);
    void commandSent(const QString& comando);
    /** @short A read from the server, its bytes as they came (Windows-1252). */
    void textFromServer(const QByteArray& bytes);
    void encrypted(const QString& protocol, const QString& cipher);
    void notice(const QString& texto);
    void fillMessageList();
    void headerReceived(int num);
    void firstLinesReceived(int num);
    void messageDeleted(int num);
    void copyFailed(int num);
    void messageListEmptied();
    void sessionCompleted();

    friend struct WindowProbe; // the tests look at the splitters and their saved sizes

    TabContext m_context;
    QPointer<QTabWidget> m_tabs;
    AccountPage* m_page = nullptr;
    TStatusPanels* m_statusBar = nullptr;
    QWidget* m_contentPanel = nullptr;
    MessageList* m_list = nullptr;
    QSplitter* m_listSplitter = nullptr;
    QWidget* m_lowerPanel = nullptr;
    QPlainTextEdit* m_textPane = nullptr;
    QSplitter* m_dialogueSplitter = nullptr;
    QFrame* m_dialoguePanel = nullptr;
    StyledTextView* m_dialogueView = nullptr;
    TPop3* m_session = nullptr;
    QWidget* m_deniedBar = nullptr; ///< "Revisar cuenta...", over the list while the login is refused

    Look m_look = Look::Disconnected;
    int m_savedLowerHeight = 0;
    int m_savedDialogueWidth = 0;
    int m_shownMessage = 0;
    QList<int> m_failedCopies; ///< messages of the delete batch under way whose copy failed
    QString m_copyError;       ///< why the last copy of the batch could not be written, if it got that far
    bool m_hostBoxShown = false;
    double m_reconnectAt = 0;
    double m_lastActivity = 0;
    double m_lastDeletion = 0;  ///< when the server last accepted a DELE (the window's clock)
    bool m_listed = false;      ///< the rows were listed again since the last idle state
    QHash<size_t, int> m_known; ///< the rows of the last listing, by what they show
    QList<int> m_newMessages;
    bool m_announce = true;
    QByteArray m_serverLine;           ///< the server's line the log is in the middle of, up to kLogLineCap
    qsizetype m_serverLineShown = 0;   ///< of that line, the characters already written
    qsizetype m_serverLineDropped = 0; ///< its characters beyond what the log keeps of one line
};
