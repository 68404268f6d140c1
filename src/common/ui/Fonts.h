#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// A font for Chinese text: the named family where it is installed ("宋体", "微软雅黑" on a Chinese
// Windows), else an installed family that has Chinese glyphs, so text never shows as boxes.
QFont cjkFont(const QString& family, qreal pointSize, bool bold = false);

// The families tried for a named Chinese family, in order: the one list of Chinese faces.
QStringList cjkFamilies(const QString& family);
