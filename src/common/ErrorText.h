#pragma once

#include "common/HttpExchange.h"

#include <QFileDevice>
#include <QString>

// Every network and file error the user can see, described in Chinese in one place.

// A failed exchange, or a reply whose status is not 200; empty for a 200 reply.
QString describeHttp(const net::Result& result);

// A file operation that failed: the description and the file's full path (never only its folder).
QString describeFileError(QFileDevice::FileError error, const QString& path);
