#pragma once

#include <QByteArray>
#include <QString>

// The text of a reply body. The servers send UTF-8, so a body that is valid UTF-8 is read so,
// whatever the Content-Type says (a leading byte-order mark is dropped). A body that is not is read
// in the character set its Content-Type names (a server that really sends GBK says so), when that
// set takes it whole; otherwise as UTF-8, each invalid sequence becoming U+FFFD.
QString replyText(const QByteArray& body, const QByteArray& contentType);

// The charset parameter of a Content-Type value ("text/html; charset=GBK" gives "gbk"), lower
// case and unquoted; empty when it names none. Of values that Qt joined after a redirect, the last.
QByteArray declaredCharset(const QByteArray& contentType);
