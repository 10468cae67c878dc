// Reading and writing a test's files byte for byte, and their permission bits.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <sys/stat.h>

/** The file's bytes, or "<unreadable>". */
inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

/** Replaces the file's content; a failure fails the test. */
inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

/** The file's permission bits (07777), or -1 when it cannot be looked at. */
inline int modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
