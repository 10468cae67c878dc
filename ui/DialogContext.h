// What the dialogs take from the window they belong to: their owner, the seams they answer through
// and where an error goes that nothing else handles. Besides this, each dialog gets the records it
// edits and callbacks for what the window must do about a change; never the window itself.
#pragma once

#include "WindowSeams.h"

#include <functional>

class AppError;
class TAccountLogins;

using MessageBoxSeam = decltype(WindowSeams::messageBox);

struct DialogContext {
    /** The window the dialog belongs to: its parent, over which it is shown. */
    QWidget* owner = nullptr;
    MessageBoxSeam messageBox;
    decltype(WindowSeams::openFileName) openFileName;
    decltype(WindowSeams::saveFileName) saveFileName;
    decltype(WindowSeams::openUrl) openUrl;
    /** An error the dialog cannot handle: the window shows it (or sweeps a socket error later). */
    std::function<void(const AppError& error)> reportError;
    /** How the accounts log in (CuentasAcceso.dat) and where their secrets are kept. */
    TAccountLogins* logins = nullptr;
};

/** @short Text the files and the server take in Windows-1252 only: when it has other characters,
 *  a box over `parent` names them and true is returned (the caller keeps what was typed and goes
 *  no further). `sentToServer`: the text is sent, not stored. */
bool RefuseUnwritableText(const MessageBoxSeam& messageBox, QWidget* parent, const QString& text,
                          bool sentToServer = false);
