#include "DialogContext.h"

#include "Cp1252.h"

bool RefuseUnwritableText(const MessageBoxSeam& messageBox, QWidget* parent, const QString& text, bool sentToServer) {
    const QStringList characters = unwritableInCp1252(text);
    if (characters.isEmpty()) return false;
    const QString what = sentToServer ? u"enviar al Servidor"_qs : u"guardar"_qs;
    messageBox(parent, QMessageBox::Critical, u"Caracteres no admitidos"_qs,
               u"El texto contiene caracteres que no se pueden "_qs + what + u": "_qs + characters.join(u", "_qs) +
                   u"\rSólo se admiten los caracteres de Europa occidental (Windows-1252)."_qs,
               QMessageBox::Ok, QMessageBox::NoButton);
    return true;
}
