#include "update_client/UpdateDecision.h"

#include "common/JsonReader.h"

using namespace Qt::StringLiterals;

namespace {

// A member's text, or the description of why it cannot be read.
struct Member {
    QString text;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

Member member(const JsonReply& reply, const QString& name) {
    if (reply.isNull(name))
        return {QString(), nullMemberText()};
    const auto text = reply.text(name);
    if (!text)
        return {QString(), missingMemberText()};
    return {*text, QString()};
}

// The integrity members are optional: missing or null means the reply has none.
QString optionalMember(const JsonReply& reply, const QString& name) {
    return reply.text(name).value_or(QString());
}

UpdateDecision failure(const QString& prompt, std::optional<QString> version = std::nullopt) {
    UpdateDecision decision;
    decision.prompt = prompt;
    decision.serverVersion = std::move(version);
    return decision;
}

} // namespace

QString refusalPrompt(const QString& message) {
    return u"自动更新失败!\r\n"_s + message + u"\r\n\r\n是否要到网站手工下载?"_s;
}

QString failurePrompt(const QString& description) {
    return u"自动更新失败!\r\n\r\n"_s + description + u"\r\n\r\n是否要到网站手工下载?"_s;
}

// The texts a Chinese Windows gives for reading a member an object lacks, and for using a null.
QString missingMemberText() {
    return u"对象不支持该属性或方法"_s;
}
QString nullMemberText() {
    return u"无效使用 Null"_s;
}

UpdateDecision decideUpdate(const QString& replyText, const QString& installedVersion) {
    const auto reply = ParseJson(replyText);
    if (!reply)
        return failure(failurePrompt(QString()));
    const Member status = member(*reply, u"status"_s);
    if (!status.ok())
        return failure(failurePrompt(status.error));
    if (status.text == u"error"_s) {
        const Member message = member(*reply, u"message"_s);
        return failure(message.ok() ? refusalPrompt(message.text) : failurePrompt(message.error));
    }
    // All three are read before the comparison, whether or not an update follows.
    const Member version = member(*reply, u"version"_s);
    if (!version.ok())
        return failure(failurePrompt(version.error));
    const Member files = member(*reply, u"update_files"_s);
    const Member notes = member(*reply, u"update_notes"_s);
    for (const Member* m : {&files, &notes}) {
        if (!m->ok())
            return failure(failurePrompt(m->error), version.text);
    }
    UpdateDecision decision;
    decision.serverVersion = version.text;
    if (version.text == installedVersion) {
        decision.outcome = UpdateDecision::Outcome::UpToDate;
        return decision;
    }
    decision.outcome = UpdateDecision::Outcome::Update;
    decision.info =
        UpdateInfo{version.text, files.text, notes.text, optionalMember(*reply, u"update_sizes"_s),
                   optionalMember(*reply, u"update_sha256"_s)};
    return decision;
}
