// Text that came from a server, made safe to show. A header or a body may hold control characters
// (ESC sequences retitle a terminal, clear it or plant links; NUL, DEL, the C1 codes) and the
// bidirectional controls that turn "factura_<U+202E>fdp.exe" into "factura_exe.pdf" on the screen.
// Shown, each becomes a visible mark; written to a terminal, an escape such as \x1b or \u202e.
#pragma once

#include <QString>

/** @short Whether the character is one that is never shown as it is: C0 controls, DEL, C1 controls,
 *  U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069, and the line and paragraph separators
 *  U+2028, U+2029. */
constexpr bool IsHiddenControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

/** What ShownText keeps: nothing, or the TABs and line breaks (CR, LF) of a text of several lines. */
enum class KeepLayout { No, TabsAndLineBreaks };

/** @short The text with every hidden control replaced by U+FFFD (the text itself when it has none). */
QString ShownText(const QString& text, KeepLayout keep = KeepLayout::No);

/** @short The text for a terminal: every hidden control written as an escape of plain characters,
 *  \xNN below U+0100 (\x1b for ESC) and \uNNNN above (\u202e). With `keepLines`, LF and the CR of
 *  a CR LF stay as they are. */
QString TerminalText(const QString& text, bool keepLines = false);
