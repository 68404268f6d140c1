#pragma once

#include <QByteArray>
#include <QString>

// Whether a downloaded main program can run here: an executable image for this platform (ELF on
// Linux, PE on Windows) whose headers fit in the file and whose every part the headers name is
// there, so that an HTML page or a download cut short is never installed as the main program.
namespace handover {

bool isProgramImage(const QString& path);

// The two checks on a file's first bytes and its whole size; exposed so each is tested anywhere.
bool isElfImage(const QByteArray& head, qint64 fileSize);
bool isPeImage(const QByteArray& head, qint64 fileSize);

} // namespace handover
