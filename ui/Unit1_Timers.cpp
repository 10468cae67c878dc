// Once a second: idle mailboxes are checked again, failed ones count down to their reconnection.
// Delays are counted in seconds with no day limit, so a delay of a day or more works.
#include "AccountWidgets.h"
#include "Unit1.h"
#include "UnitPOP3.h"

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
            TStatusPanels* bar = tab->StatusBar;
            if (tab->ReconnectAt >= 1.0) {
                if (now >= tab->ReconnectAt) {
                    tab->ReconnectAt = 0;
                    bar->setPanelCount(2);
                    guarded([&] { session->Reconectar(); });
                } else {
                    bar->setPanelText(2, u"Reconexión en "_qs + FormatCountdown(secondsIn(tab->ReconnectAt - now)));
                }
            } else if (Config.segsReconexionSiDesconectado > 0) {
                tab->ReconnectAt = now + Config.segsReconexionSiDesconectado / 86400.0;
                bar->setPanelCount(3);
                bar->setPanelText(2, u"Reconexión en "_qs + FormatCountdown(secondsIn(tab->ReconnectAt - now)));
                const int textWidth = bar->fontMetrics().horizontalAdvance(u"Reconexión en 0:00:000"_qs);
                bar->setPanelWidth(1, bar->width() - bar->panelWidth(0) - textWidth - 4);
            }
        }
    }
}
