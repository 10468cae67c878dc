// Once a second: idle mailboxes are checked again, failed ones count down to their reconnection.
// Delays are counted in seconds with no day limit, so a delay of a day or more works.
#include "MainWindow.h"
#include "Pop3Session.h"

namespace {
/** Whole seconds in a span of days (rounded to the millisecond first, so the clock's rounding never
 *  decides). */
qint64 secondsIn(double days) {
    return std::llround(days * 86400000.0) / 1000;
}
} // namespace

QString TfrmPrincipal::FormatCountdown(qint64 seconds) {
    if (seconds < 0) seconds = 0;
    return u"%1:%2:%3"_qs.arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void TfrmPrincipal::TimerReconexionesTimer() {
    const QList<TAccountTab*> tabs = Tabs;
    for (TAccountTab* tab : tabs) {
        if (!Tabs.contains(tab)) continue;
        const double now = m_seams.clock();
        TPop3* session = tab->POP3;
        if (session->Estado() == TPop3::Conectado) {
            const int interval = Config.segsRechequeoSiConectado;
            if (interval > 0 && secondsIn(now - tab->LastActivity) > interval) session->ComprobarDeNuevo();
        } else if (session->Estado() == TPop3::Desconectado) {
            if (tab->countingDown()) {
                if (now >= tab->ReconnectAt) {
                    tab->endCountdown();
                    guarded([&] { session->Reconectar(); });
                } else {
                    tab->showCountdown(secondsIn(tab->ReconnectAt - now));
                }
            } else if (Config.segsReconexionSiDesconectado > 0) {
                const double at = now + Config.segsReconexionSiDesconectado / 86400.0;
                tab->startCountdown(at, secondsIn(at - now));
            }
        }
    }
}
