#include "common/IniFile.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

void check(bool holds) {
    if (!holds)
        std::abort();
}

QByteArray codePage(const QString& text) {
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

QString fromCodePage(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
}

// What a read gives for a stored value: the value as the code page keeps it, without the blanks
// around it, without one pair of enclosing quotation marks, and up to a NUL.
QString readForm(const QString& value) {
    QByteArray bytes = codePage(value);
    while (!bytes.isEmpty() && (bytes.front() == ' ' || bytes.front() == '\t'))
        bytes.remove(0, 1);
    while (!bytes.isEmpty() && (bytes.back() == ' ' || bytes.back() == '\t'))
        bytes.chop(1);
    if (bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') && bytes.back() == bytes.front())
        bytes = bytes.mid(1, bytes.size() - 2);
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    return fromCodePage(bytes);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

} // namespace

// Input: section, key and value separated by 0x1F, then the file's bytes before the write (no file
// when that part is missing). Names and value are UTF-8, or UTF-16 when the input starts with 'W'
// (texts from a JSON reply may hold lone surrogates).
// Property: a write is refused and leaves the file as it was, or it succeeds and a read of the same
// section and key gives the value written, as the read rules shape it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // In memory where there is such a folder: a write ends with a flush to disk.
    static QTemporaryDir dir(QFileInfo(u"/dev/shm"_s).isDir() ? u"/dev/shm/vesmora-fuzz-XXXXXX"_s
                                                              : QDir::tempPath() + u"/vesmora-fuzz-XXXXXX"_s);
    static const QString path = dir.filePath(u"update.ini"_s);
    static const QString fallback = u"<default>"_s;

    QByteArrayView input(data, qsizetype(size));
    const bool utf16 = input.startsWith('W');
    if (utf16)
        input = input.sliced(1);
    QList<QByteArrayView> parts;
    for (int i = 0; i < 3; ++i) {
        const qsizetype end = input.indexOf('\x1f');
        if (end < 0)
            break;
        parts << input.first(end);
        input = input.sliced(end + 1);
    }
    const std::optional<QByteArrayView> content = parts.size() == 3 ? std::optional(input) : std::nullopt;
    if (!content)
        parts << input;
    while (parts.size() < 3)
        parts << QByteArrayView();
    const auto text = [utf16](QByteArrayView bytes) {
        if (!utf16)
            return QString::fromUtf8(bytes);
        const QByteArray aligned = bytes.toByteArray(); // the input's bytes may start at an odd address
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(aligned.constData()), aligned.size() / 2);
    };
    const QString section = text(parts[0]);
    const QString key = text(parts[1]);
    const QString value = text(parts[2]);

    QFile::remove(path);
    if (content) {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly) && file.write(content->toByteArray()) == content->size());
    }
    const QByteArray before = fileBytes(path);

    if (iniWrite(section, key, value, path) <= 0) {
        check(fileBytes(path) == before);
        return 0;
    }

    const QString expected = readForm(value);
    const QString back = iniRead(section, key, fallback, path);
    if (expected.isEmpty()) {
        check(back == fallback);
    } else if (codePage(expected).size() <= kIniValueLimit) {
        check(back == expected);
    } else {
        // Cut to the longest start that fits the limit, never inside a character.
        check(expected.startsWith(back) && codePage(back).size() <= kIniValueLimit);
        const qsizetype next = back.size() + (expected.at(back.size()).isHighSurrogate() ? 2 : 1);
        check(codePage(expected.left(next)).size() > kIniValueLimit);
    }
    return 0;
}
