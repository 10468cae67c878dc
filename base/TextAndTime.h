// Small helpers shared by the engine, the stored data and the window: the accent-folding upper case,
// the fire-and-forget sound, and the conversions between seconds, times of day and "H:MM:SS" texts.
#pragma once

#include <QString>
#include <functional>

/** @short Upper case with á é í ó ú folded to plain capitals and ñ to Ñ; nothing else changes
 *  (É, ü, à stay). Same length as the input, so positions found in the result hold in the input. */
QString MayusculasSinAcentos(const QString& text);
/** @short One character of MayusculasSinAcentos: a text is compared with a key in capitals by
 *  folding only the characters compared. */
QChar MayusculaSinAcento(QChar c);

/** @short A count with a dot between thousands ("65.536", "-1.234"), as the window shows sizes. */
QString FormatThousands(qint64 n);

/** @short A port a TCP connection can use (1 to 65535): the one check of the dialogs, the
 *  command-line scanner and the socket. */
constexpr bool IsTcpPort(qint64 port) {
    return port >= 1 && port <= 65535;
}

/** @short The position of the first `c` at or after `from` in the text, or -1. Faster than
 *  QStringView::indexOf on the short stretches of a line-by-line scan. */
qsizetype NextCharAt(QStringView text, char16_t c, qsizetype from = 0);

/** @short Hands the file to the registered sound player when the name is not empty and the file
 *  exists; otherwise, or with no player registered, nothing happens and nothing is reported. */
void ReproducirSonido(const QString& fileName);
using SoundPlayer = std::function<void(const QString& fileName)>;
/** @short The desktop registers its player at start-up; an empty function removes it. */
void SetSoundPlayer(SoundPlayer player);

/** @short Seconds of the time-of-day part of a date-time (days as a double): h*3600 + m*60 + s,
 *  milliseconds dropped, whole days ignored. */
int SegundosDeHora(double dateTime);
/** @short The time of day (fraction of a day) of n seconds. Throws EConvertError for n < 0 or
 *  n >= 86400, which no time of day can hold. */
double HoraDeSegundos(int seconds);
/** @short Seconds of "H:MM:SS", "M:SS" or "S" (fields without range limits); -1 for an empty text
 *  or more than two ':'. An empty or non-numeric field throws EConvertError. */
int SegundosDeTexto(const QString& text);

/** @short The local date and time as days since 30 December 1899 (one day = 1.0), the form in which
 *  connection times are kept. */
double CurrentDateTime();
