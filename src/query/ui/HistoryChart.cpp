#include "query/ui/HistoryChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// Readings beyond this are no optical power a line can have (a server's placeholder or a fault);
// they stay in the table but would flatten the scale to nothing.
constexpr double kPlotLimitDb = 100;
// Grid lines at most: a bound by count, whatever the scale works out to.
constexpr int kMostGridLines = 50;

const QColor kSeriesColours[2] = {QColor(0x1f, 0x77, 0xb4), QColor(0xe6, 0x73, 0x00)};
const QString kSeriesNames[2] = {u"光猫接收光功率"_s, u"OLT接收光功率"_s};

// A step of 1, 2 or 5 times a power of ten that gives about five grid lines over span.
double niceStep(double span) {
    const double raw = span / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0})
        if (raw <= factor * magnitude)
            return factor * magnitude;
    return 10 * magnitude;
}

} // namespace

HistoryChart::HistoryChart(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void HistoryChart::setReadings(const QList<journal::Reading>& readings) {
    const size_t sources[2] = {0, 2}; // ONT receive, OLT receive
    for (int s = 0; s < 2; ++s) {
        m_series[s].clear();
        for (const journal::Reading& reading : readings) {
            bool ok = false;
            const double value = reading.values[sources[s]].toDouble(&ok);
            if (ok && std::fabs(value) <= kPlotLimitDb)
                m_series[s] << Point{reading.takenAt.toMSecsSinceEpoch(), value};
        }
        std::sort(m_series[s].begin(), m_series[s].end(),
                  [](const Point& a, const Point& b) { return a.ms < b.ms; });
    }
    update();
}

QSize HistoryChart::sizeHint() const {
    return {560, 240};
}

QSize HistoryChart::minimumSizeHint() const {
    return {240, 140};
}

QString HistoryChart::emptyText() {
    return u"没有该帐号的历史读数"_s;
}

void HistoryChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics = fontMetrics();
    const QColor text = palette().color(QPalette::Text);

    if (m_series[0].isEmpty() && m_series[1].isEmpty()) {
        painter.setPen(text);
        painter.drawText(rect(), Qt::AlignCenter, emptyText());
        return;
    }

    qint64 firstMs = std::numeric_limits<qint64>::max(), lastMs = std::numeric_limits<qint64>::min();
    double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
    for (const auto& series : m_series)
        for (const Point& point : series) {
            firstMs = std::min(firstMs, point.ms);
            lastMs = std::max(lastMs, point.ms);
            low = std::min(low, point.value);
            high = std::max(high, point.value);
        }
    // A flat line or a single reading still gets a scale around it.
    if (high - low < 1) {
        low -= 1;
        high += 1;
    }
    const double step = niceStep(high - low);
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;

    const int labelWidth = metrics.horizontalAdvance(u"-00.0"_s) + 8;
    const int line = metrics.height();
    const QRect plot = rect().adjusted(labelWidth, line * 2, -16, -(line + 8));
    if (plot.width() < 10 || plot.height() < 10)
        return;

    const auto xOf = [&](qint64 ms) {
        return lastMs == firstMs
                   ? plot.center().x()
                   : plot.left() + double(ms - firstMs) / double(lastMs - firstMs) * plot.width();
    };
    const auto yOf = [&](double value) {
        return plot.bottom() - (value - low) / (high - low) * plot.height();
    };

    // Grid and scale.
    const int lines = std::min(kMostGridLines, int(std::lround((high - low) / step))) + 1;
    painter.setPen(QPen(palette().color(QPalette::Mid), 0, Qt::DotLine));
    for (int i = 0; i < lines; ++i) {
        const double y = yOf(low + i * step);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    painter.setPen(text);
    for (int i = 0; i < lines; ++i) {
        const double value = low + i * step;
        const double y = yOf(value);
        painter.drawText(QRectF(0, y - line / 2.0, labelWidth - 6, line), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(value, 'f', step < 1 ? 1 : 0));
    }
    painter.drawRect(plot);
    const QString format = u"yyyy-MM-dd"_s;
    const QString first = QDateTime::fromMSecsSinceEpoch(firstMs).toString(format);
    const QString last = QDateTime::fromMSecsSinceEpoch(lastMs).toString(format);
    const QRect dates(plot.left(), plot.bottom() + 4, plot.width(), line);
    painter.drawText(dates, Qt::AlignLeft | Qt::AlignTop, first);
    if (last != first)
        painter.drawText(dates, Qt::AlignRight | Qt::AlignTop, last);
    painter.drawText(QRect(0, 0, labelWidth + 40, line + 4), Qt::AlignLeft | Qt::AlignVCenter, u"dB"_s);

    // Legend, then the two lines with a dot at every reading.
    int legendX = plot.left() + 40;
    for (int s = 0; s < 2; ++s) {
        painter.setPen(QPen(kSeriesColours[s], 2));
        painter.drawLine(legendX, line / 2 + 2, legendX + 20, line / 2 + 2);
        painter.setPen(text);
        painter.drawText(legendX + 24, 0, metrics.horizontalAdvance(kSeriesNames[s]) + 4, line + 4,
                         Qt::AlignLeft | Qt::AlignVCenter, kSeriesNames[s]);
        legendX += 24 + metrics.horizontalAdvance(kSeriesNames[s]) + 24;
    }
    painter.setClipRect(plot.adjusted(-4, -4, 4, 4));
    for (int s = 0; s < 2; ++s) {
        if (m_series[s].isEmpty())
            continue;
        QPainterPath path;
        path.moveTo(xOf(m_series[s].first().ms), yOf(m_series[s].first().value));
        for (const Point& point : m_series[s])
            path.lineTo(xOf(point.ms), yOf(point.value));
        painter.setPen(QPen(kSeriesColours[s], 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setBrush(kSeriesColours[s]);
        for (const Point& point : m_series[s])
            painter.drawEllipse(QPointF(xOf(point.ms), yOf(point.value)), 3, 3);
    }
}
