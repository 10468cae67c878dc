#include "AccountAccess.h"

#include "DataFile.h"
#include "Errors.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <optional>

namespace {

const QString kMethod = u"Acceso"_qs;
const QString kProvider = u"Proveedor"_qs;
const QString kClientId = u"ClienteId"_qs;
const QString kClientSecret = u"ClienteSecreto"_qs;
const QString kAuthorizeUrl = u"UrlAutorizacion"_qs;
const QString kTokenUrl = u"UrlToken"_qs;
const QString kScope = u"Alcance"_qs;
const QString kPasswordInKeyring = u"PasswordEnLlavero"_qs;
const QString kAllowPlaintext = u"PasswordSinCifrar"_qs;

const QList<std::pair<LoginMethod, QString>> kMethods = {{LoginMethod::Password, u"password"_qs},
                                                         {LoginMethod::OAuth2, u"oauth2"_qs}};
const QList<std::pair<OAuthProvider, QString>> kProviders = {{OAuthProvider::Microsoft, u"microsoft"_qs},
                                                             {OAuthProvider::Google, u"google"_qs},
                                                             {OAuthProvider::Custom, u"custom"_qs}};

template <typename E> std::optional<E> fromName(const QList<std::pair<E, QString>>& names, const QString& text) {
    for (const auto& [value, name] : names)
        if (name == text) return value;
    return std::nullopt;
}

template <typename E> QString nameOf(const QList<std::pair<E, QString>>& names, E value) {
    for (const auto& [v, name] : names)
        if (v == value) return name;
    return {};
}

/** The text fields, by key. */
const QList<std::pair<QString, QString AccountAccess::*>> kTextFields = {
    {kClientId, &AccountAccess::clientId},
    {kClientSecret, &AccountAccess::clientSecret},
    {kAuthorizeUrl, &AccountAccess::authorizeUrl},
    {kTokenUrl, &AccountAccess::tokenUrl},
    {kScope, &AccountAccess::scope},
};

/** Reads one key=value line of a section into the entry: false (with the reason) for a known key
 *  whose value this version cannot take. Unknown keys are kept as they are. */
bool readValue(AccountAccess& a, const QString& line, const QString& key, const QString& value, QString& reason) {
    if (key == kMethod) {
        const auto method = fromName(kMethods, value);
        if (!method)
            reason = u"\"%1\" no es un modo de acceso (password u oauth2)"_qs.arg(value);
        else
            a.method = *method;
        return method.has_value();
    }
    if (key == kProvider) {
        const auto provider = fromName(kProviders, value);
        if (!provider)
            reason = u"\"%1\" no es un proveedor (microsoft, google o custom)"_qs.arg(value);
        else
            a.provider = *provider;
        return provider.has_value();
    }
    if (key == kPasswordInKeyring || key == kAllowPlaintext) {
        if (value != u"0" && value != u"1") {
            reason = u"%1 debe ser 0 o 1"_qs.arg(key);
            return false;
        }
        (key == kPasswordInKeyring ? a.passwordInKeyring : a.allowPlaintext) = value == u"1";
        return true;
    }
    for (const auto& [name, field] : kTextFields) {
        if (key == name) {
            a.*field = value;
            return true;
        }
    }
    a.otherLines.append(line);
    return true;
}

void appendLine(QByteArray& out, const QString& key, const QString& value) {
    QString oneLine = value;
    oneLine.replace(u'\n', u' '); // the only character a value cannot hold: a CR inside a line is read back
    out += (key + u'=' + oneLine).toUtf8();
    out += '\n';
}

} // namespace

QString AccountKey(const QString& server, int port, const QString& user) {
    return QString::fromLatin1(QUrl::toPercentEncoding(user) + '@' + QUrl::toPercentEncoding(server) + ':' +
                               QByteArray::number(port));
}

QString AccountKey(const AccountRecord& record) {
    int port = 110;
    try {
        port = ParseInt32(record.puerto);
    } catch (const EConvertError&) {
    }
    return AccountKey(record.servidor, port, record.usuario);
}

AccountAccess AccountAccessList::find(const QString& key) const {
    for (const Entry& e : entries)
        if (e.key == key) return e.access;
    return {};
}

void AccountAccessList::set(const QString& key, const AccountAccess& access) {
    for (Entry& e : entries) {
        if (e.key == key) {
            e.access = access;
            return;
        }
    }
    entries.append({key, access});
}

bool AccountAccessList::rename(const QString& from, const QString& to) {
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.key == from; });
    if (found == entries.end()) return false;
    if (from == to) return true;
    const AccountAccess access = found->access;
    entries.erase(found);
    set(to, access);
    return true;
}

bool AccountAccessList::remove(const QString& key) {
    return entries.removeIf([&](const Entry& e) { return e.key == key; }) > 0;
}

AccountAccessList ParseAccountAccessData(QByteArrayView data, QStringList* problems) {
    AccountAccessList list;
    auto report = [problems](qsizetype number, const QString& text) {
        if (problems) problems->append(u"Línea %1: %2"_qs.arg(number).arg(text));
    };
    const QString text = QString::fromUtf8(data);
    const QStringList lines = text.split(u'\n');
    QHash<QString, qsizetype> indexOf; // of the entries by key: a file of many accounts is read in linear time
    qsizetype current = -1;            // the entry the lines belong to; -1 before the first section or after a bad one
    bool inBadSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qsizetype number = i + 1;
        const QString line = lines[i].trimmed(); // a CR before the LF goes too
        if (line.isEmpty()) continue;
        if (line.startsWith(u';') || line.startsWith(u'#')) {
            if (current >= 0)
                list.entries[current].access.otherLines.append(line);
            else if (!inBadSection)
                list.leadingLines.append(line);
            continue;
        }
        if (line.startsWith(u'[')) {
            const QString key = line.endsWith(u']') ? line.sliced(1, line.size() - 2).trimmed() : QString();
            inBadSection = key.isEmpty();
            current = -1;
            if (inBadSection) {
                report(number, u"encabezado de cuenta mal formado; se pasan por alto sus líneas"_qs);
                continue;
            }
            current = indexOf.value(key, -1);
            if (current >= 0) {
                report(number, u"la cuenta %1 ya apareció antes; sus líneas se suman a las de entonces"_qs.arg(key));
            } else {
                current = list.entries.size();
                indexOf.insert(key, current);
                list.entries.append({key, {}});
            }
            continue;
        }
        if (inBadSection) continue; // reported with its header
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) {
            report(number, u"falta \"clave=valor\""_qs);
            continue;
        }
        if (current < 0) {
            report(number, u"fuera de la sección de una cuenta"_qs);
            continue;
        }
        QString reason;
        if (!readValue(list.entries[current].access, line, line.first(equals).trimmed(),
                       line.sliced(equals + 1).trimmed(), reason))
            report(number, reason);
    }
    return list;
}

QByteArray FormatAccountAccessData(const AccountAccessList& list) {
    QByteArray out;
    for (const QString& line : list.leadingLines)
        out += line.toUtf8() + '\n';
    for (const AccountAccessList::Entry& e : list.entries) {
        const AccountAccess& a = e.access;
        if (!out.isEmpty()) out += '\n';
        out += '[' + e.key.toUtf8() + "]\n";
        appendLine(out, kMethod, nameOf(kMethods, a.method));
        if (a.method == LoginMethod::OAuth2 || a.provider != OAuthProvider::Custom)
            appendLine(out, kProvider, nameOf(kProviders, a.provider));
        for (const auto& [key, field] : kTextFields)
            if (!(a.*field).isEmpty()) appendLine(out, key, a.*field);
        appendLine(out, kPasswordInKeyring, a.passwordInKeyring ? u"1"_qs : u"0"_qs);
        if (a.allowPlaintext) appendLine(out, kAllowPlaintext, u"1"_qs);
        for (const QString& line : a.otherLines)
            out += line.toUtf8() + '\n';
    }
    return out;
}

QString AccountAccessFilePath(const QString& dataDir) {
    return QDir(dataDir).filePath(u"CuentasAcceso.dat"_qs);
}

AccountAccessList LoadAccountAccessFile(const QString& path, QStringList* problems) {
    if (!QFileInfo::exists(path)) return {};
    return ParseAccountAccessData(ReadDataFile(path), problems);
}

void SaveAccountAccessFile(const QString& path, const AccountAccessList& list) {
    WriteOwnerOnlyDataFile(path, FormatAccountAccessData(list));
}

void RenameAccountAccess(const QString& path, const QString& from, const QString& to, QStringList* problems) {
    AccountAccessList list = LoadAccountAccessFile(path, problems);
    if (from != to && list.rename(from, to)) SaveAccountAccessFile(path, list);
}

void RemoveAccountAccess(const QString& path, const QString& key, QStringList* problems) {
    AccountAccessList list = LoadAccountAccessFile(path, problems);
    if (list.remove(key)) SaveAccountAccessFile(path, list);
}
