#include "query/LookupRules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

using Row = lookup::Row;
using Col = ResultRowLayout;

void check(bool holds) {
    if (!holds)
        std::abort();
}

bool sameCells(const Row& a, const Row& b, std::initializer_list<int> columns) {
    for (const int c : columns) {
        if (a[c] != b[c])
            return false;
    }
    return true;
}

} // namespace

// The first byte chooses the lookup, the rest is its reply. A lookup writes only its own cells,
// never the account; a reply that is not read leaves the row as it was; the power lookup follows
// exactly when the resource lookup left a result text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    Row row;
    row[Col::Account] = u"20912345678"_s;
    row[Col::Result] = u"资源查询成功"_s;
    row[Col::Ems] = u"EMS"_s;
    row[Col::OltIp] = u"10.0.0.1"_s;
    row[Col::OltPon] = u"0/1/2"_s;
    row[Col::Loid] = u"loid"_s;
    row[Col::SplitterName] = u"splitter"_s;

    const bool power = data[0] & 1;
    const lookup::Step step = power ? lookup::powerReply(row, text) : lookup::resourceReply(row, text);
    check(step.row[Col::Account] == row[Col::Account]);
    check((step.outcome == lookup::Outcome::Read) == step.reason.isEmpty());
    if (step.outcome != lookup::Outcome::Read) {
        check(step.row == row && !step.powerFollows);
        return 0;
    }
    if (power) {
        check(sameCells(step.row, row, {Col::Ems, Col::OltIp, Col::OltPon, Col::Loid, Col::SplitterName}));
        check(!step.powerFollows);
    } else {
        check(sameCells(step.row, row, {Col::OnuAccept, Col::OnuSend, Col::OltAccept, Col::OltSend}));
        check(step.powerFollows == !step.row[Col::Result].isEmpty());
    }
    return 0;
}
