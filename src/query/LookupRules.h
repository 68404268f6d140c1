#pragma once

#include "query/ResultRow.h"
#include "query/SessionPostClient.h"

#include <QString>

// How the reply of each lookup turns into row cells. Pure functions: no network, no event loop.
namespace lookup {

using Row = ResultRowLayout::Row;

enum class Outcome {
    Read,          // a JSON object came back; its members went into the cells
    NoUsableReply, // no reply, a failed exchange, an empty body or no JSON object: cells unchanged
    SessionLost,   // the operator's sign-in page came back: cells unchanged, ask again after sign-in
};

struct Step {
    Row row; // the row after the reply
    Outcome outcome = Outcome::Read;
    QString reason;            // why the reply was not usable, in Chinese; empty when read
    bool powerFollows = false; // resource lookup: the power lookup comes next
};

Step resourceReply(const Row& row, const PostReply& reply);
Step powerReply(const Row& row, const PostReply& reply);

// The same for a whole 200 reply with this body text.
Step resourceReply(const Row& row, const QString& text);
Step powerReply(const Row& row, const QString& text);

// An HTML page with a password field: what the operator system sends once a session has ended,
// straight away or after a redirect.
bool isSignInPage(const QString& text);

} // namespace lookup
