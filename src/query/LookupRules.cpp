#include "query/LookupRules.h"

#include "common/ErrorText.h"
#include "common/JsonReader.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace lookup {

namespace {

using C = ResultRowLayout;

// An absent or null member leaves its cell as it was.
void writeMember(Row& row, const JsonReply& reply, int column, const QString& member) {
    if (const auto text = reply.text(member))
        row[column] = *text;
}

// The object of a usable reply, or the step that says why there is none.
std::optional<JsonReply> readObject(const PostReply& reply, Step& step) {
    if (!reply.result.arrived()) {
        step.outcome = Outcome::NoUsableReply;
        step.reason = describeHttp(reply.result);
        return std::nullopt;
    }
    // Parsed whatever the status: a JSON object is read as the server meant it.
    if (auto object = reply.text.isEmpty() ? std::nullopt : ParseJson(reply.text))
        return object;
    if (isSignInPage(reply.text)) {
        step.outcome = Outcome::SessionLost;
        step.reason = describeReply(ReplyProblem::SignInPage);
        return std::nullopt;
    }
    step.outcome = Outcome::NoUsableReply;
    if (reply.result.status != 200)
        step.reason = describeHttp(reply.result);
    else
        // A body of nothing but blanks and line ends says as little as an empty one.
        step.reason =
            describeReply(reply.text.trimmed().isEmpty() ? ReplyProblem::Empty : ReplyProblem::NotJson);
    return std::nullopt;
}

PostReply whole200(const QString& text) {
    PostReply reply;
    reply.text = text;
    reply.result.status = 200;
    return reply;
}

} // namespace

bool isSignInPage(const QString& text) {
    static const QRegularExpression passwordField(uR"(<input\b[^>]*\btype\s*=\s*["']?password\b)"_s,
                                                  QRegularExpression::CaseInsensitiveOption);
    return text.contains(passwordField);
}

Step resourceReply(const Row& row, const PostReply& reply) {
    Step step;
    step.row = row;
    const auto object = readObject(reply, step);
    if (!object)
        return step;
    writeMember(step.row, *object, C::Result, u"rmw_test_desc"_s);
    if (step.row[C::Result].isEmpty())
        return step;
    writeMember(step.row, *object, C::Ems, u"rmw_ems"_s);
    writeMember(step.row, *object, C::OltPon, u"rmw_olt_pon"_s);
    writeMember(step.row, *object, C::Loid, u"rmw_loid"_s);
    writeMember(step.row, *object, C::SplitterName, u"rmw_pos_name"_s);
    writeMember(step.row, *object, C::OltIp, u"rmw_olt_ip"_s);
    step.powerFollows = true;
    return step;
}

Step powerReply(const Row& row, const PostReply& reply) {
    Step step;
    step.row = row;
    const auto object = readObject(reply, step);
    if (!object)
        return step;
    writeMember(step.row, *object, C::Result, u"test_desc"_s);
    if (step.row[C::Result].isEmpty() || object->isNull(u"olt_send"_s))
        return step;
    writeMember(step.row, *object, C::OltSend, u"olt_send"_s);
    writeMember(step.row, *object, C::OnuSend, u"onu_send"_s);
    writeMember(step.row, *object, C::OltAccept, u"olt_accept"_s);
    writeMember(step.row, *object, C::OnuAccept, u"onu_accept"_s);
    return step;
}

Step resourceReply(const Row& row, const QString& text) {
    return resourceReply(row, whole200(text));
}

Step powerReply(const Row& row, const QString& text) {
    return powerReply(row, whole200(text));
}

} // namespace lookup
