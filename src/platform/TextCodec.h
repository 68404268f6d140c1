#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// The bytes read in the character set a Content-Type names ("GBK", "gb2312", "big5", ...);
// nothing when that set is unknown here or the bytes are not valid in it.
std::optional<QString> decodeStrictly(const QByteArray& bytes, const QByteArray& charset);

} // namespace platform
