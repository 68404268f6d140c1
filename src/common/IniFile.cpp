#include "common/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <exception>
#include <optional>

namespace {

// The file is handled as bytes in the system code page, as the ANSI profile functions do, so lines
// this code does not touch are written back byte for byte.
QByteArray toCodePage(const QString& text) {
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

QString fromCodePage(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(const QByteArray& bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes.at(begin)))
        ++begin;
    while (end > begin && isBlank(bytes.at(end - 1)))
        --end;
    return bytes.mid(begin, end - begin);
}

// The name asked for goes through the code page as the stored one did, as with the platform's
// ANSI calls; a character the code page lacks would otherwise never match its stored stand-in.
// Stored bytes that are no text of the code page (a lead byte without its trail) match only the
// same bytes: decoded, they can come out empty and would then name the section "".
bool sameName(const QByteArray& stored, const QString& name) {
    const QString storedText = fromCodePage(stored);
    if (toCodePage(storedText) != stored)
        return stored == toCodePage(name);
    return storedText.compare(fromCodePage(toCodePage(name)), Qt::CaseInsensitive) == 0;
}

// Lines keep their carriage return, so a write gives back the lines it does not touch byte for byte
// and reads them afterwards as it read them before.
QList<QByteArray> splitLines(const QByteArray& content) {
    QList<QByteArray> lines = content.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the final line break does not start another line
    return lines;
}

// A line without its carriage return.
QByteArray lineText(const QByteArray& line) {
    return line.endsWith('\r') ? line.first(line.size() - 1) : line;
}

// The name of a "[section]" line, or nothing for any other line.
std::optional<QByteArray> sectionName(const QByteArray& line) {
    const QByteArray trimmed = trimBlanks(lineText(line));
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    return trimBlanks(trimmed.mid(1, close < 0 ? -1 : close - 1));
}

QByteArray keyName(const QByteArray& line) {
    const QByteArray text = lineText(line);
    const qsizetype eq = text.indexOf('=');
    return trimBlanks(eq < 0 ? text : text.left(eq));
}

struct Location {
    qsizetype section = -1;    // index of the section line
    qsizetype sectionEnd = -1; // index after its last line
};

Location locate(const QList<QByteArray>& lines, const QString& section) {
    Location where;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines.at(i));
        if (!name)
            continue;
        if (where.section >= 0) {
            where.sectionEnd = i;
            return where;
        }
        // The first section of that name wins, as with the platform.
        if (sameName(*name, section))
            where.section = i;
    }
    if (where.section >= 0)
        where.sectionEnd = lines.size();
    return where;
}

qsizetype findKey(const QList<QByteArray>& lines, const Location& where, const QString& key) {
    for (qsizetype i = where.section + 1; i < where.sectionEnd; ++i) {
        if (!trimBlanks(lineText(lines.at(i))).isEmpty() && sameName(keyName(lines.at(i)), key))
            return i;
    }
    return -1;
}

// The longest start of the text whose code-page form fits the limit, never splitting a character.
QString cutToLimit(const QString& text) {
    if (toCodePage(text).size() <= kIniValueLimit)
        return text;
    qsizetype fits = 0;
    qsizetype tooLong = text.size();
    while (tooLong - fits > 1) {
        const qsizetype middle = (fits + tooLong) / 2;
        if (toCodePage(text.left(middle)).size() <= kIniValueLimit)
            fits = middle;
        else
            tooLong = middle;
    }
    if (fits > 0 && text.at(fits - 1).isHighSurrogate())
        --fits;
    return text.left(fits);
}

bool storable(const QString& text) {
    return !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'));
}

// What a new line holds before its '\n'.
QByteArray newLine(const QByteArray& text) {
#ifdef Q_OS_WIN
    return text + '\r';
#else
    return text;
#endif
}

int write(const QString& section, const QString& key, const QString& value, const QString& path) {
    const QString sectionText = section.trimmed();
    const QString keyText = key.trimmed();
    // Anything that would split a line or be read back as another name cannot be stored; a key
    // line starting with '[' would be read as a section and hide the keys after it.
    if (!storable(section) || !storable(key) || !storable(value) || keyText.isEmpty() ||
        sectionText.contains(QLatin1Char(']')) || keyText.contains(QLatin1Char('=')) ||
        keyText.startsWith(QLatin1Char('[')))
        return 0;

    QList<QByteArray> lines;
    if (QFileInfo::exists(path)) {
        QFile file(path);
        // A file that exists but cannot be read must not be replaced by one holding a single key.
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        lines = splitLines(file.readAll());
    }

    const QByteArray entry = toCodePage(keyText) + '=' + toCodePage(value);
    const Location where = locate(lines, sectionText);
    if (where.section < 0) {
        lines << newLine('[' + toCodePage(sectionText) + ']') << newLine(entry);
    } else if (const qsizetype at = findKey(lines, where, keyText); at >= 0) {
        lines[at] = lines.at(at).endsWith('\r') ? entry + '\r' : entry;
    } else {
        // After the section's last line that is not blank, so a blank separator stays in front of
        // the next section.
        qsizetype after = where.section;
        for (qsizetype i = where.section + 1; i < where.sectionEnd; ++i) {
            if (!trimBlanks(lineText(lines.at(i))).isEmpty())
                after = i;
        }
        lines.insert(after + 1, newLine(entry));
    }

    QByteArray content;
    for (const QByteArray& line : std::as_const(lines))
        content += line + '\n';

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return 0;
    return file.commit() ? 1 : 0;
}

QString read(const QString& section, const QString& key, const QString& defaultValue, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    const QList<QByteArray> lines = splitLines(file.readAll());
    const Location where = locate(lines, section.trimmed());
    if (where.section < 0)
        return defaultValue;
    const qsizetype at = findKey(lines, where, key.trimmed());
    if (at < 0)
        return defaultValue;

    const QByteArray line = lineText(lines.at(at));
    const qsizetype eq = line.indexOf('=');
    QByteArray value = eq < 0 ? QByteArray() : trimBlanks(line.mid(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    // The value ends at a NUL, as a C string would.
    const qsizetype nul = value.indexOf('\0');
    if (nul >= 0)
        value.truncate(nul);
    const QString text = cutToLimit(fromCodePage(value));
    return text.isEmpty() ? defaultValue : text;
}

} // namespace

bool iniCarries(const QString& value) {
    if (value.isEmpty() || !storable(value) || value.contains(QChar(u'\0')))
        return false;
    const QByteArray bytes = toCodePage(value);
    if (bytes.size() > kIniValueLimit || fromCodePage(bytes) != value)
        return false;
    if (isBlank(bytes.front()) || isBlank(bytes.back()))
        return false;
    const bool quoted =
        bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') && bytes.back() == bytes.front();
    return !quoted;
}

int iniWrite(const QString& section, const QString& key, const QString& value, const QString& path) {
    try {
        return write(section, key, value, path);
    } catch (const std::exception&) {
        return -1;
    }
}

QString iniRead(const QString& section, const QString& key, const QString& defaultValue,
                const QString& path) {
    try {
        return read(section, key, defaultValue, path);
    } catch (const std::exception&) {
        return defaultValue;
    }
}
