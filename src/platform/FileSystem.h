#pragma once

#include <QString>

class QFileDevice;

// File-system steps that must not lose a file when the process dies or the power fails between
// two of them.
namespace platform {

// Puts `from` in the place of `to` in one step: at every instant `to` is either the old file or
// the new one. Both must be on one volume. A link at `to` is replaced, never followed. A file in
// use that the system will not replace (a running program on Windows) makes the step fail, and
// nothing changes. Durable only once the folders of both names are synced.
[[nodiscard]] bool renameFile(const QString& from, const QString& to);

// renameFile, then the folders of both names synced: the step is on disk when this returns.
[[nodiscard]] bool replaceFile(const QString& from, const QString& to);

// Writes what the file holds so far to the disk.
[[nodiscard]] bool syncFile(QFileDevice& file);

// Writes a folder's entries to the disk, so that a name made, renamed or removed in it stays so.
[[nodiscard]] bool syncFolder(const QString& folder);

// A symbolic link, a junction or any other reparse point: something that would lead elsewhere.
// A missing path is not a link.
bool isLink(const QString& path);

// Hides a folder from the usual listings where the name alone does not (Windows).
void hideFolder(const QString& path);

// The steps a swap is made of, behind one seam so that tests can see their order. The default
// does them on the disk.
class FileSteps {
public:
    virtual ~FileSteps() = default;
    virtual bool rename(const QString& from, const QString& to) { return renameFile(from, to); }
    virtual bool syncFile(QFileDevice& file) { return platform::syncFile(file); }
    virtual bool syncFolder(const QString& folder) { return platform::syncFolder(folder); }
    virtual bool remove(const QString& file);       // one file, or a link itself
    virtual bool removeFolder(const QString& path); // with what it holds; never through a link
    virtual bool makeFolder(const QString& path);   // one level, its parent exists
};

FileSteps& diskSteps();

} // namespace platform
