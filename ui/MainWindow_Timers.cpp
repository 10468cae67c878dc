// Once a second: idle mailboxes are checked again, failed ones count down to their reconnection.
// Delays are counted in seconds with no day limit, so a delay of a day or more works.
#include "AccountTab.h"
#include "MainWindow.h"

namespace {
/** Whole seconds in a span of days (rounded to the millisecond first, so the clock's rounding never
 *  decides). */
qint64 secondsIn(double days) {
    return std::llround(days * 86400000.0) / 1000;
}
} // namespace

void TfrmPrincipal::TimerReconexionesTimer() {
    const QList<TAccountTab*> tabs = Tabs;
    for (TAccountTab* tab : tabs) {
        if (!Tabs.contains(tab)) continue;
        const double now = m_seams.clock();
        if (tab->isIdle()) {
            const int interval = Config.segsRechequeoSiConectado;
            if (interval > 0 && secondsIn(now - tab->lastActivity()) > interval) tab->checkAgain();
        } else if (tab->isDisconnected()) {
            if (tab->accessDenied()) {
                continue; // the same password would be refused again: the user reviews the account
            } else if (tab->countingDown()) {
                if (now >= tab->reconnectAt()) {
                    tab->endCountdown();
                    guarded([&] { tab->reconnect(); });
                } else {
                    tab->showCountdown(secondsIn(tab->reconnectAt() - now));
                }
            } else if (Config.segsReconexionSiDesconectado > 0) {
                // A server that asked for a delay between logins is not tried sooner.
                const int wait = std::max(Config.segsReconexionSiDesconectado, tab->loginDelay());
                const double at = now + wait / 86400.0;
                tab->startCountdown(at, secondsIn(at - now));
            }
        }
    }
}
