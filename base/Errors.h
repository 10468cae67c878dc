// The program's own run-time errors. Each carries the class name that the unhandled-error report
// shows, and a plain English message as a run-time library would give it.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

class AppError : public std::exception {
public:
    explicit AppError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    /** @short The class name shown to the user ("EConvertError", ...). */
    virtual const char* className() const noexcept = 0;
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

#define TAVELO_DECLARE_ERROR(Name)                                                                                     \
    class Name final : public AppError {                                                                               \
    public:                                                                                                            \
        using AppError::AppError;                                                                                      \
        const char* className() const noexcept override { return #Name; }                                              \
    };

/** Text that is not a number, or a time that cannot be built. */
TAVELO_DECLARE_ERROR(EConvertError)
/** A file that cannot be opened, read, written or closed. */
TAVELO_DECLARE_ERROR(EInOutError)
/** A stored setting of the wrong type. */
TAVELO_DECLARE_ERROR(ERegistryException)
/** A host name that cannot be resolved, or a socket that cannot be opened. */
TAVELO_DECLARE_ERROR(ESocketError)

#undef TAVELO_DECLARE_ERROR

/** @short Decimal text to a 32-bit integer: optional leading blanks, optional sign, digits.
 *  Throws EConvertError("'<text>' is not a valid integer value") otherwise, overflow included. */
int ParseInt32(const QString& text);
