#include "update_client/UpdateCheck.h"

#include "common/Endpoints.h"
#include "common/JsonReader.h"
#include "common/Version.h"

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
        return {QString(), UpdateCheck::nullMemberText()};
    const auto text = reply.text(name);
    if (!text)
        return {QString(), UpdateCheck::missingMemberText()};
    return {*text, QString()};
}

} // namespace

UpdateCheck::UpdateCheck(net::Transport* transport, QObject* parent)
    : QObject(parent), m_transport(transport) {}

QString UpdateCheck::refusalPrompt(const QString& message) {
    return u"自动更新失败!\r\n"_s + message + u"\r\n\r\n是否要到网站手工下载?"_s;
}

QString UpdateCheck::failurePrompt(const QString& description) {
    return u"自动更新失败!\r\n\r\n"_s + description + u"\r\n\r\n是否要到网站手工下载?"_s;
}

// The texts a Chinese Windows gives for reading a member an object lacks, and for using a null.
QString UpdateCheck::missingMemberText() {
    return u"对象不支持该属性或方法"_s;
}
QString UpdateCheck::nullMemberText() {
    return u"无效使用 Null"_s;
}

void UpdateCheck::start() {
    m_headers.contentType = u"application/x-www-form-urlencoded;charset=utf-8"_s;
    m_headers.userAgent = productCode() + u"-Software Client"_s;
    postForm(*m_transport, endpoints::updateCheck(), u"softwarename="_s + productCode(), m_headers,
             m_timeoutMs, this, [this](const FormPostResult& result) {
                 if (result.failed)
                     emit failed(failurePrompt(result.errorText));
                 else
                     decide(result.text);
             });
}

void UpdateCheck::decide(const QString& replyText) {
    const auto reply = ParseJson(replyText);
    if (!reply) {
        emit failed(failurePrompt(QString()));
        return;
    }
    const Member status = member(*reply, u"status"_s);
    if (!status.ok()) {
        emit failed(failurePrompt(status.error));
        return;
    }
    if (status.text == u"error"_s) {
        const Member message = member(*reply, u"message"_s);
        emit failed(message.ok() ? refusalPrompt(message.text) : failurePrompt(message.error));
        return;
    }
    // All three are read before the comparison, whether or not an update follows.
    const Member version = member(*reply, u"version"_s);
    if (!version.ok()) {
        emit failed(failurePrompt(version.error));
        return;
    }
    emit serverVersionRead(version.text);
    const Member files = member(*reply, u"update_files"_s);
    const Member notes = member(*reply, u"update_notes"_s);
    for (const Member* m : {&files, &notes}) {
        if (!m->ok()) {
            emit failed(failurePrompt(m->error));
            return;
        }
    }
    if (version.text == installedVersion())
        emit upToDate();
    else
        emit updateNeeded(UpdateInfo{version.text, files.text, notes.text});
}
