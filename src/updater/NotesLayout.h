#pragma once

#include <QPoint>
#include <QSize>

// Top-left of the notes label, centred across the window and within the band 50 to 135 pixels
// from the top (growing out of it evenly when taller). Integer division cuts toward zero.
QPoint notesPosition(QSize labelSize, int clientWidth);
