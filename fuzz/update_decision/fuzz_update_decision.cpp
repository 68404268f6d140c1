#include "update_client/UpdateDecision.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void check(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace

// Any reply the update server (or whatever stands in its way) may send leads to exactly one of the
// three outcomes, and an update is only ever started for a version other than the installed one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString installed = u"2.1.0"_s;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const UpdateDecision decision = decideUpdate(text, installed);
    switch (decision.outcome) {
    case UpdateDecision::Outcome::UpToDate:
        check(decision.serverVersion == installed && decision.prompt.isEmpty());
        break;
    case UpdateDecision::Outcome::Update:
        check(decision.serverVersion && *decision.serverVersion != installed);
        check(decision.info.version == *decision.serverVersion && decision.prompt.isEmpty());
        break;
    case UpdateDecision::Outcome::Failure:
        check(decision.prompt.startsWith(u"自动更新失败!"_s) &&
              decision.prompt.endsWith(u"是否要到网站手工下载?"_s));
        break;
    }
    return 0;
}
