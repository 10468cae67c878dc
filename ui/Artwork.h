// The program's own pictures, drawn at run time: the four tab lamps, the two tray icons and the
// 18-frame at-sign strip of the busy animation; and the application icon, from its SVG.
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

/** Lamps 0 red (disconnected), 1 amber (busy), 2 green (mail), 3 blue (empty mailbox), 16 x 16; a dark
 *  rim inside a white ring, so that they stand out on a light panel and on a dark one. */
QList<QIcon> MakeLampImages();
/** Two distinguishable 16 x 16 tray icons: 0 normal, 1 the other blink image. */
QList<QIcon> MakeTrayImages();
/** 18 frames of 38 x 31 pixels side by side (684 x 31): an at-sign turning once, in ink, drawn
 *  for a screen of that scale. */
QPixmap MakeArrobaStrip(const QColor& ink, qreal scale = 1);
/** The glyphs of the three view-mode buttons: list only; list and text; list, text and dialogue. */
QList<QIcon> MakeViewModeImages();
/** A loudspeaker, 13 x 14: the mark of a sound row that has a file. */
QPixmap MakeLoudspeakerImage();
/** The application icon (the window's, the launcher's: data/io.github.quenmar.Tavelo.svg, built in as a
 *  resource) rendered at the usual icon sizes from 16 to 256; a null icon if the picture cannot be read. */
QIcon MakeApplicationIcon();
