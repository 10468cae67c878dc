// How the dialogs fit the desktop they are shown on: a font larger than the one they were drawn
// for, and a screen smaller than they are.
#pragma once

#include <QRect>

class QDialog;
class QTreeView;
class QWidget;

/** @short A dialog laid out by coordinates grows with a font larger than the one it was drawn for.
 *  Every control placed by coordinates (not by a layout) is measured: its caption with the
 *  control's font, the room its style leaves for it. When one needs more room than it has, every
 *  such control's position and size, the columns of the lists and the dialog's own size are scaled
 *  by the largest shortfall (across and down separately), so that the controls keep their places
 *  among each other. With the usual font everything fits already and nothing moves. What the
 *  dialog looks like at the first call is kept: after a change of font (the desktop's, while the
 *  program runs) it is fitted again from that when next shown (with FitToScreen). */
void FitToFont(QWidget* dialog);

/** @short Columns at least as wide as their headers' captions (the last one, when it stretches,
 *  takes the rest anyway). */
void FitColumnsToHeaders(QTreeView* view);

/** @short The part of a screen's free area a window can take, leaving room for the frame and
 *  title bar the window manager puts around it. */
QRect WindowRoom(const QRect& available);

/** @short A dialog never larger than the free area of its owner's screen: larger when it is shown,
 *  its content goes into a scroll area (buttons included: all of it can be reached by scrolling)
 *  and the dialog takes the room there is. Each time it is shown it is fitted again (to its font as
 *  well, after FitToFont) and moved inside that free area. */
void FitToScreen(QDialog* dialog);
