// The HTML body of a message as the text pane's preview shows it: its text in lines, as a browser
// would lay it out, without markup, links, images, scripts or styles. Inside the preview only.
#pragma once

#include "PreviewLines.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

namespace Preview {

/** Adds the text of an HTML document (or of a piece cut from one) to `sink`, line by line, until it is full. */
void AppendHtmlAsText(QStringView html, LineSink& sink);

/** The charset a <meta> near the start of an HTML body names; empty when there is none. */
QByteArray HtmlMetaCharset(QByteArrayView html);

} // namespace Preview
