#pragma once

#include <QString>

// Access to private-profile (INI) files: "[section]" lines followed by key=value lines. Section and
// key names compare without regard to case; the file's bytes are in the system code page (GBK on
// a Chinese Windows, UTF-8 on Linux), so characters the code page lacks do not survive.

// Writes one key: creates the file and the section when missing, replaces the key's value in place
// or appends the key to its section. The file is replaced whole, never left half written.
// Non-zero on success, 0 when the file cannot be written or a name or value cannot be stored
// (a line break would split the line, a key starting with "[" would read as a section), -1 on an
// internal error.
int iniWrite(const QString& section, const QString& key, const QString& value, const QString& path);

// Reads one key. The value loses the blanks around it and one pair of enclosing quotation marks
// (single or double) and is cut to 4095 code-page bytes. A missing file, section or key, and an
// empty value, give the default.
QString iniRead(const QString& section, const QString& key, const QString& defaultValue, const QString& path);

// Longest value, in code-page bytes, that a read returns.
constexpr int kIniValueLimit = 4095;
