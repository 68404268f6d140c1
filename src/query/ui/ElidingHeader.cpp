#include "query/ui/ElidingHeader.h"

#include <QStyleOptionHeader>

ElidingHeader::ElidingHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

QString ElidingHeader::shownText(int logicalIndex) const {
    QStyleOptionHeader option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    return option.text;
}

void ElidingHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    // The label's room: the section less the style's margin on both sides.
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, option, this);
    const int room = sectionSize(logicalIndex) - 2 * margin;
    option->text = option->fontMetrics.elidedText(option->text, Qt::ElideRight, std::max(0, room));
}
