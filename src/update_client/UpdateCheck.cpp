#include "update_client/UpdateCheck.h"

#include "common/Endpoints.h"
#include "common/Version.h"

using namespace Qt::StringLiterals;

UpdateCheck::UpdateCheck(net::Transport* transport, QObject* parent)
    : QObject(parent), m_transport(transport) {}

void UpdateCheck::start() {
    m_headers.contentType = u"application/x-www-form-urlencoded;charset=utf-8"_s;
    m_headers.userAgent = productCode() + u"-Software Client"_s;
    postForm(
        *m_transport, endpoints::updateCheck(), u"softwarename="_s + productCode(), m_headers, m_timeoutMs,
        this,
        [this](const FormPostResult& result) {
            if (result.failed) {
                emit failed(failurePrompt(result.errorText));
                return;
            }
            const UpdateDecision decision = decideUpdate(result.text, installedVersion());
            if (decision.serverVersion)
                emit serverVersionRead(*decision.serverVersion);
            switch (decision.outcome) {
            case UpdateDecision::Outcome::UpToDate:
                emit upToDate();
                break;
            case UpdateDecision::Outcome::Update:
                emit updateNeeded(decision.info);
                break;
            case UpdateDecision::Outcome::Failure:
                emit failed(decision.prompt);
                break;
            }
        },
        m_deadlineMs);
}
