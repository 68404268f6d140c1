#pragma once

#include <QByteArray>
#include <QString>

class QFile;
class QFileDevice;

// File-system steps that must not lose a file when the process dies or the power fails between
// two of them.
namespace platform {

// Why a step failed, as far as the system said; `code` is its own number (errno, or Windows'
// last error).
struct FileFault {
    enum class Kind {
        None,
        AccessDenied, // no right, a read-only or locked file, a protected one
        InUse,        // another program has the file open
        IsFolder,     // a folder stands where a file goes
        DiskFull,
        ReadOnlyDisk,
        Missing, // the file or a folder on its path does not exist
        Other,
    };
    Kind kind = Kind::None;
    int code = 0;
};

// The fault of the last step of this file that failed on this thread.
FileFault lastFault();

// Notes a fault found otherwise, for the next lastFault().
void noteFault(FileFault fault);

// Puts `from` in the place of `to` in one step: at every instant `to` is either the old file or
// the new one. Both must be on one volume. A link at `to` is replaced, never followed. A file in
// use that the system will not replace (a running program on Windows) makes the step fail, and
// nothing changes. Durable only once the folders of both names are synced.
[[nodiscard]] bool renameFile(const QString& from, const QString& to);

// renameFile, then the folders of both names synced: the step is on disk when this returns.
[[nodiscard]] bool replaceFile(const QString& from, const QString& to);

// Gives the existing file `from` a second name `to` on the same volume (a hard link): both names
// are the one file. Fails where the volume has no such links (FAT) and when `to` exists.
[[nodiscard]] bool linkFile(const QString& from, const QString& to);

// Creates the file named by `file` for writing, only if nothing (not even a link) has that name.
[[nodiscard]] bool createFile(QFile& file);

// Writes all of `bytes` to a file opened by createFile.
[[nodiscard]] bool writeFile(QFile& file, const QByteArray& bytes);

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
    virtual bool link(const QString& from, const QString& to) { return linkFile(from, to); }
    virtual bool createFile(QFile& file) { return platform::createFile(file); }
    virtual bool write(QFile& file, const QByteArray& bytes) { return writeFile(file, bytes); }
    virtual bool syncFile(QFileDevice& file) { return platform::syncFile(file); }
    virtual bool syncFolder(const QString& folder) { return platform::syncFolder(folder); }
    virtual bool remove(const QString& file);       // one file, or a link itself
    virtual bool removeFolder(const QString& path); // with what it holds; never through a link
    virtual bool makeFolder(const QString& path);   // one level, its parent exists
    // Why the last step that failed did.
    virtual FileFault fault() const { return lastFault(); }
};

FileSteps& diskSteps();

} // namespace platform
