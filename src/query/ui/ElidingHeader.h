#pragma once

#include <QHeaderView>

// A horizontal header whose captions end in "…" where their section is too narrow for them,
// instead of being cut mid-glyph; the full caption stays in the model (and its tooltip).
class ElidingHeader : public QHeaderView {
    Q_OBJECT

public:
    explicit ElidingHeader(QWidget* parent = nullptr);

    // The caption as painted at the section's present width.
    QString shownText(int logicalIndex) const;

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
};
