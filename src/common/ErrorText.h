#pragma once

#include "common/HttpExchange.h"

#include <QFileDevice>
#include <QString>

// Every network and file error the user can see, described in Chinese in one place.

// A failed exchange, or a reply whose status is not 200; empty for a 200 reply.
QString describeHttp(const net::Result& result);

// A file operation that failed: the description and the file's full path (never only its folder).
QString describeFileError(QFileDevice::FileError error, const QString& path);

// Why a downloaded file is not taken although the transfer itself went through.
enum class DownloadFault {
    TooSlow,              // averaged under the speed limit for the whole window
    TooLarge,             // past the largest file an update may carry
    LongerThanAnnounced,  // more bytes than the reply's Content-Length
    ShorterThanAnnounced, // fewer bytes than the reply's Content-Length
    SizeMismatch,         // not the size the update check named
    LargerThanExpected,   // passed the size the update check named, while it still came
    HashMismatch,         // not the SHA-256 the update check named
    NotAProgram,          // the main program's download cannot run here
    ThroughLink,          // the file would be written through a link
};

// The description, naming the file; received and expected byte counts where they matter.
QString describeDownload(DownloadFault fault, const QString& file, qint64 received = -1,
                         qint64 expected = -1);

// A reply that arrived but cannot be used.
enum class ReplyProblem {
    Empty,      // nothing in the body
    NotJson,    // not a JSON object
    SignInPage, // the operator's sign-in page: the session has ended
};
QString describeReply(ReplyProblem problem);

// A saved file that no program could open (none is associated with its type, or it failed to start).
QString describeOpenFailure(const QString& path);

// A workbook limit that the data passes.
enum class SheetLimit {
    CellText, // a cell longer than a spreadsheet cell can hold
    Rows,     // more rows than a sheet can hold
};
QString describeSheetLimit(SheetLimit limit);
