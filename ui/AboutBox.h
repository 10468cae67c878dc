// The about box: name, version and date of the program, a short history, thanks, and a link to
// the project's web page.
#pragma once

#include "DialogContext.h"

#include <QDialog>
#include <QUrl>

class QFrame;
class QLabel;
class QPushButton;

class TfrmAbout final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmAbout)
public:
    /** @short Builds the box, hidden and modal, owned by context.owner and showing its icon; the
     *  link opens through context.openUrl. */
    explicit TfrmAbout(const DialogContext& context);

    /** @short The page the link label opens. */
    static QUrl WebPage();
    /** @short Shows the box modally until Esc or the close box. */
    int ShowModal() { return exec(); }

    void btnSalirClick();
    void Label9Click();

    QFrame* Bevel1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* imgIcono = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblFecha = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QPushButton* btnSalir = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();

    decltype(DialogContext::openUrl) m_openUrl;
};
