#pragma once

#include <QCursor>
#include <QPixmap>
#include <QString>

// Pictures shared by the update window and the updater's window, painted in code so they can be
// changed here.

// The 500 x 361 background: white panel, close symbol under the 22 x 22 spot at (464, 16), light
// blue band from 50 to 135, the two version column headings split by a line at mid-width, and the
// progress track at (27, 310), 445 x 22. titleText, when not empty, is drawn at the top left;
// filledBar draws the green bar in the track instead of leaving it empty.
QPixmap updateBackdrop(const QString& titleText, bool filledBar);

// The 445 x 22 green bar with rounded ends that fills the track.
QPixmap progressBarPixmap();

// A 32 x 32 monochrome pointing hand with its hot spot at the fingertip (5, 0).
QCursor handPointer();
