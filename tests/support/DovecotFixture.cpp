#include "DovecotFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <chrono>
#include <unistd.h>

namespace {

QStringList strings(const QJsonValue& value) {
    QStringList out;
    for (const QJsonValue& v : value.toArray())
        out << v.toString();
    return out;
}

ManifestMessage fromJson(const QJsonObject& o) {
    ManifestMessage m;
    m.num = o.value(u"num"_qs).toInt();
    m.bytes = o.value(u"bytes"_qs).toInteger();
    m.file = o.value(u"file"_qs).toString();
    m.messageId = o.value(u"messageId"_qs).toString();
    m.rawFrom = o.value(u"rawFrom"_qs).toString();
    m.rawSubject = o.value(u"rawSubject"_qs).toString();
    m.rawDate = o.value(u"rawDate"_qs).toString();
    m.rawTo = o.value(u"rawTo"_qs).toString();
    m.rawCc = o.value(u"rawCc"_qs).toString();
    m.from = o.value(u"from"_qs).toString();
    m.subject = o.value(u"subject"_qs).toString();
    m.to = strings(o.value(u"to"_qs));
    m.cc = strings(o.value(u"cc"_qs));
    m.headerLines = o.value(u"headerLines"_qs).toInt();
    m.bodyLines = o.value(u"bodyLines"_qs).toInt();
    for (const QJsonValue& v : o.value(u"dotLines"_qs).toArray())
        m.dotLines << v.toInt();
    m.tags = strings(o.value(u"tags"_qs));
    return m;
}

const QStringList kMaildirParts = {u"cur"_qs, u"new"_qs, u"tmp"_qs};

} // namespace

qint64 pop3Size(const QByteArray& message) {
    qint64 size = message.size();
    for (qsizetype i = 0; i < message.size(); ++i)
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r')) ++size;
    return size;
}

DovecotFixture::DovecotFixture() {
    const QByteArray fromCTest = qgetenv("TAVELO_DOVECOT_DIR");
    m_underCTest = !fromCTest.isEmpty();
    m_dir = m_underCTest ? QString::fromLocal8Bit(fromCTest) : QString::fromUtf8(TAVELO_DOVECOT_DEFAULT_DIR);
    const QString info = m_dir + u"/info.ini"_qs;
    if (QFileInfo::exists(info)) m_info = std::make_unique<QSettings>(info, QSettings::IniFormat);
}

DovecotFixture::~DovecotFixture() = default;

QString DovecotFixture::problem() const {
    const QString startIt = u"run the test through ctest, or start the server by hand with "
                            u"tests/support/dovecot/fixture.sh start %1"_qs.arg(m_dir);
    if (!m_info) return u"No Dovecot fixture in %1 (no info.ini): %2"_qs.arg(m_dir, startIt);
    if (m_info->status() != QSettings::NoError || pop3Port() == 0) return u"%1/info.ini cannot be read"_qs.arg(m_dir);
    const QString pid = m_info->value(u"server/masterPid"_qs).toString();
    if (pid.isEmpty() || !QFileInfo::exists(u"/proc/"_qs + pid))
        return u"The Dovecot of %1 (pid %2) is no longer running: %3"_qs.arg(m_dir, pid, startIt);
    return {};
}

bool DovecotFixture::underCTest() const {
    return m_underCTest;
}
QString DovecotFixture::dir() const {
    return m_dir;
}

QString DovecotFixture::host() const {
    return m_info ? m_info->value(u"server/host"_qs).toString() : QString();
}

quint16 DovecotFixture::pop3Port() const {
    return m_info ? quint16(m_info->value(u"server/pop3Port"_qs).toUInt()) : 0;
}

quint16 DovecotFixture::pop3sPort() const {
    return m_info ? quint16(m_info->value(u"server/pop3sPort"_qs).toUInt()) : 0;
}

quint16 DovecotFixture::oauthPort() const {
    return m_info ? quint16(m_info->value(u"server/oauthPort"_qs).toUInt()) : 0;
}

QString DovecotFixture::certificatePath() const {
    return m_info ? m_info->value(u"server/cert"_qs).toString() : QString();
}

QString DovecotFixture::logPath() const {
    return m_info ? m_info->value(u"server/log"_qs).toString() : QString();
}

QStringList DovecotFixture::users() const {
    return m_info ? m_info->value(u"server/users"_qs).toStringList() : QStringList();
}

QString DovecotFixture::userValue(const QString& user, const QString& key) const {
    return m_info && !user.isEmpty() ? m_info->value(user + u'/' + key).toString() : QString();
}

QString DovecotFixture::password(const QString& user) const {
    return userValue(user, u"password"_qs);
}
QString DovecotFixture::maildir(const QString& user) const {
    return userValue(user, u"maildir"_qs);
}
bool DovecotFixture::isScratch(const QString& user) const {
    return userValue(user, u"scratch"_qs) == u"1"_qs;
}
QString DovecotFixture::rawlogDir(const QString& user) const {
    return userValue(user, u"rawlog"_qs);
}

QList<ManifestMessage> DovecotFixture::manifest(const QString& user) const {
    QFile file(userValue(user, u"manifest"_qs));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QList<ManifestMessage> out;
    const QJsonArray messages = QJsonDocument::fromJson(file.readAll()).object().value(u"messages"_qs).toArray();
    for (const QJsonValue& v : messages)
        out << fromJson(v.toObject());
    return out;
}

ManifestMessage DovecotFixture::firstTagged(const QString& user, const QString& tag) const {
    for (const ManifestMessage& m : manifest(user))
        if (m.tags.contains(tag)) return m;
    return {};
}

QByteArray DovecotFixture::rawMessage(const QString& user, int num) const {
    for (const ManifestMessage& m : manifest(user)) {
        if (m.num != num) continue;
        QFile file(userValue(user, u"pristine"_qs) + u'/' + m.file);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return {};
}

bool DovecotFixture::fail(const QString& error) {
    m_error = error;
    return false;
}

// A session's process may still write its index files after the QUIT reply: a Maildir replaced
// under it would be left with stale indexes. The process is titled "<title>/pop3 [user ip]".
bool DovecotFixture::waitForNoSession(const QString& user) {
    const QByteArray title =
        (m_info->value(u"server/processTitle"_qs).toString() + u"/pop3 ["_qs + user + u' ').toUtf8();
    QDeadlineTimer deadline(10000);
    for (;;) {
        bool open = false;
        const QStringList pids = QDir(u"/proc"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& pid : pids) {
            QFile cmdline(u"/proc/"_qs + pid + u"/cmdline"_qs);
            if (pid.front().isDigit() && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith(title)) {
                open = true;
                break;
            }
        }
        if (!open) return true;
        if (deadline.hasExpired()) return fail(u"a POP3 session of %1 is still open after 10 s"_qs.arg(user));
        QThread::msleep(20);
    }
}

bool DovecotFixture::own(const QString& path, bool directory) {
    using P = QFileDevice;
    const auto mode = directory ? P::ReadOwner | P::WriteOwner | P::ExeOwner : P::ReadOwner | P::WriteOwner;
    const uid_t uid = m_info->value(u"server/mailUid"_qs).toUInt();
    const gid_t gid = m_info->value(u"server/mailGid"_qs).toUInt();
    if (!QFile::setPermissions(path, mode) || ::chown(QFile::encodeName(path).constData(), uid, gid) != 0)
        return fail(u"cannot give %1 to uid %2"_qs.arg(path).arg(uid));
    return true;
}

bool DovecotFixture::resetMailbox(const QString& user) {
    if (!problem().isEmpty()) return fail(problem());
    if (!isScratch(user)) return fail(u"%1 is not a scratch user: its mailbox must not change"_qs.arg(user));
    if (!waitForNoSession(user)) return false;
    const QString target = maildir(user);
    const QString source = userValue(user, u"pristine"_qs);
    if (QFileInfo::exists(target) && !QDir(target).removeRecursively()) return fail(u"cannot remove %1"_qs.arg(target));
    for (const QString& part : kMaildirParts) {
        const QString dir = target + u'/' + part;
        if (!QDir().mkpath(dir)) return fail(u"cannot create %1"_qs.arg(dir));
        const QStringList files = QDir(source + u'/' + part).entryList(QDir::Files, QDir::Name);
        for (const QString& name : files) {
            if (!QFile::copy(source + u'/' + part + u'/' + name, dir + u'/' + name))
                return fail(u"cannot copy %1 into %2"_qs.arg(name, dir));
            if (!own(dir + u'/' + name, false)) return false;
        }
        if (!own(dir, true)) return false;
    }
    return own(target, true);
}

bool DovecotFixture::deliver(const QString& user, const QByteArray& message) {
    if (!problem().isEmpty()) return fail(problem());
    if (!isScratch(user)) return fail(u"%1 is not a scratch user: its mailbox must not change"_qs.arg(user));
    // Dovecot numbers new files by the time at the start of their name (seconds, then microseconds).
    static qint64 lastMicros = 0;
    static int serial = 0;
    using namespace std::chrono;
    qint64 micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    micros = lastMicros = qMax(micros, lastMicros + 1);
    const QString name = u"%1.M%2P%3Q%4.tavelo"_qs.arg(micros / 1000000)
                             .arg(micros % 1000000, 6, 10, QLatin1Char('0'))
                             .arg(QCoreApplication::applicationPid())
                             .arg(++serial);
    const QString tmp = maildir(user) + u"/tmp/"_qs + name;
    QFile file(tmp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(message) != message.size() || !file.flush())
        return fail(u"cannot write %1"_qs.arg(tmp));
    file.close();
    if (!own(tmp, false)) return false;
    // Maildir delivery: written in tmp/, then renamed into new/ in one step.
    if (!QFile::rename(tmp, maildir(user) + u"/new/"_qs + name)) return fail(u"cannot move %1 into new/"_qs.arg(tmp));
    return true;
}
