#include "update_client/DownloadDisplay.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace download_display {

qint64 expectedSizeFromLength(qint64 contentLength) {
    return contentLength + 1;
}

QString twoDecimals(double value) {
    const double rounded = std::round(value * 100.0) / 100.0;
    return QString::number(rounded, 'f', 2);
}

QString sizeText(qint64 expectedSize) {
    return u"文件大小:"_s + twoDecimals(static_cast<double>(expectedSize) / 1024.0) + u" KB"_s;
}

QString speedText(qint64 received, qint64 wholeSecondsElapsed) {
    const double kb = static_cast<double>(received) / 1024.0;
    const double speed = kb / static_cast<double>(qMax<qint64>(0, wholeSecondsElapsed) + 1);
    return u"下载速度: "_s + twoDecimals(speed) + u" KB/S"_s;
}

int barWidth(qint64 received, qint64 expectedSize) {
    if (expectedSize <= 0)
        return 0;
    // Single precision, as the bar has always been computed.
    const float width = static_cast<float>(received) / static_cast<float>(expectedSize) * float(kFullWidth);
    return qBound(0, static_cast<int>(std::lround(width)), kFullWidth);
}

QString successText() {
    return u"下载成功"_s;
}

} // namespace download_display
