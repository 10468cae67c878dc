// Records every event a session raises, as one line each, in order; and a desktop that answers the
// session's question as the test says and remembers what it was asked.
#pragma once

#include "Desktop.h"
#include "Errors.h"
#include "Pop3Session.h"

#include <QHash>
#include <QStringList>
#include <QUrl>

class SessionRecorder {
public:
    explicit SessionRecorder(TPop3& s, bool withText = false) {
        QObject::connect(&s, &TPop3::OnCambioEstado,
                         [this](TPop3*, int e, const QString& t) { events << u"estado %1 %2"_qs.arg(e).arg(t); });
        QObject::connect(&s, &TPop3::OnDesconexionForzada,
                         [this](TPop3*, const QString& m) { events << u"forzada "_qs + m; });
        QObject::connect(&s, &TPop3::OnConexionImposible, [this](TPop3*, const QString& caption, const QString&) {
            events << u"imposible "_qs + caption;
        });
        QObject::connect(&s, &TPop3::OnHostNotFound,
                         [this](TPop3*, const QString& m) { events << u"hostnotfound "_qs + m; });
        QObject::connect(&s, &TPop3::OnSendCommandToServer,
                         [this](TPop3*, const QString& c) { events << u"send "_qs + c; });
        if (withText)
            QObject::connect(&s, &TPop3::OnTextFromServer,
                             [this](TPop3*, const QString& t) { events << u"text "_qs + t; });
        QObject::connect(&s, &TPop3::OnPrimerasLineasRecibidas,
                         [this](TPop3*, int n) { events << u"primeras %1"_qs.arg(n); });
        QObject::connect(&s, &TPop3::OnMensajeBorrado, [this](TPop3*, int n) { events << u"borrado %1"_qs.arg(n); });
        QObject::connect(&s, &TPop3::OnCopiaFallida, [this](TPop3*, int n, const QString& motivo) {
            events << u"copia fallida %1 %2"_qs.arg(n).arg(motivo);
        });
        QObject::connect(&s, &TPop3::OnVaciarListaMensajes, [this](TPop3*) { events << u"vaciar"_qs; });
        QObject::connect(&s, &TPop3::OnConexionCompletada, [this](TPop3*) { events << u"completada"_qs; });
        QObject::connect(&s, &TPop3::OnAviso, [this](TPop3*, const QString& t) { events << u"aviso "_qs + t; });
    }
    QStringList take() {
        QStringList out = events;
        events.clear();
        return out;
    }
    QStringList events;
};

class FakeDesktop final : public IDesktop {
public:
    bool askYesNo(const QString& caption, const QString& text, bool defaultYes) override {
        questions << caption + u'|' + text;
        defaults << defaultYes;
        return answer;
    }
    void openUrl(const QUrl& url) override { urls << url; }
    void reportUnhandledError(const AppError& e) override {
        errors << QString::fromLatin1(e.className()) + u": "_qs + e.message();
    }
    std::optional<QString> trustedCertificate(const QString& hostPort) override {
        return trusted.contains(hostPort) ? std::optional<QString>(trusted[hostPort]) : std::nullopt;
    }
    void trustCertificate(const QString& hostPort, const QString& sha256) override { trusted[hostPort] = sha256; }
    bool offeredTls(const QString& hostPort) override { return gaveTls.contains(hostPort); }
    void rememberTls(const QString& hostPort) override { gaveTls << hostPort; }
    bool answer = false;
    QList<bool> defaults; ///< what Enter would have answered, question by question
    QStringList gaveTls;
    QHash<QString, QString> trusted;
    QStringList questions;
    QList<QUrl> urls;
    QStringList errors;
};
