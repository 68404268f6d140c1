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
    HashMismatch,         // not the SHA-256 the update check named
    NotAProgram,          // the main program's download cannot run here
    ThroughLink,          // the file would be written through a link
};

// The description, naming the file; received and expected byte counts where they matter.
QString describeDownload(DownloadFault fault, const QString& file, qint64 received = -1,
                         qint64 expected = -1);
