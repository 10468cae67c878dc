// The two versions of Cuentas.dat, Filtros.dat and the settings that the crash-safety writer saves
// in turn. Version 1 is many times longer than version 0, so a file cut short shows.
#pragma once

#include "AccountsFile.h"
#include "FilterLists.h"
#include "Settings.h"

#include <QList>
#include <QString>

namespace crashsafe {

inline QList<AccountRecord> accounts(int version) {
    QList<AccountRecord> out;
    const int count = version == 0 ? 2 : 300;
    for (int i = 0; i < count; ++i)
        out.append({u"pop%1.example.com"_qs.arg(i), u"%1"_qs.arg(110 + version * 885), u"usuario%1"_qs.arg(i),
                    u"MnAbCdEfGhIjKlMnOp"_qs.repeated(version + 1)});
    return out;
}

inline TFiltros filters(int version) {
    TFiltros out;
    const int count = version == 0 ? 3 : 400;
    for (int i = 0; i < count; ++i) {
        out.From.append(u"remitente%1@example.com"_qs.arg(i));
        out.Subj.append(u"Oferta n\u00famero %1"_qs.arg(i));
    }
    return out;
}

inline TConfig settings(int version) {
    TConfig out;
    if (version == 1) {
        out.iniTop = 50;
        out.ConectarTodosAlArrancar = true;
        out.ElementosEnVentana = 1;
        out.wavNoTieneMensajes = u"/usr/share/sounds/"_qs + u"vacio/"_qs.repeated(700) + u"a.wav"_qs;
        out.wavSiTieneMensajes = u"/usr/share/sounds/"_qs + u"correo/"_qs.repeated(700) + u"b.wav"_qs;
        out.segsReconexionSiDesconectado = 42;
    }
    return out;
}

} // namespace crashsafe
