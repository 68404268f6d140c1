#pragma once

#include <QString>
#include <QtGlobal>

// Texts and bar width of the download progress display.
namespace download_display {

constexpr int kFullWidth = 445;

// The expected size is the Content-Length plus one, as the display has always counted it.
qint64 expectedSizeFromLength(qint64 contentLength);

// "文件大小:" + the expected size / 1024 with two decimals + " KB".
QString sizeText(qint64 expectedSize);

// "下载速度: " + KB received / (whole seconds since the phase began + 1), two decimals, " KB/S".
QString speedText(qint64 received, qint64 wholeSecondsElapsed);

// received / expected of the full width, within 0 .. full width.
int barWidth(qint64 received, qint64 expectedSize);

QString successText();

// A number with two decimals, halves rounded away from zero, no grouping.
QString twoDecimals(double value);

} // namespace download_display
