#include "common/JsonReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// The names the query run and the update check read, so missing members are read too.
const QStringList kCallerNames{u"rmw_test_desc"_s, u"rmw_ems"_s,    u"rmw_olt_pon"_s,  u"rmw_loid"_s,
                               u"rmw_pos_name"_s,  u"rmw_olt_ip"_s, u"test_desc"_s,    u"olt_send"_s,
                               u"onu_send"_s,      u"olt_accept"_s, u"onu_accept"_s,   u"status"_s,
                               u"message"_s,       u"version"_s,    u"update_files"_s, u"update_notes"_s};

void check(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace

// Any bytes a server may send, decoded as the HTTP clients decode them; every member of an accepted
// reply is read as the callers read it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto reply = ParseJson(text);
    if (!reply)
        return 0;

    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    for (const QString& name : object.keys() + kCallerNames) {
        const auto value = reply->text(name);
        // Only a missing or null member has no text.
        check(value.has_value() == (reply->has(name) && !reply->isNull(name)));
        if (!value || !object.value(name).isDouble() || !std::isfinite(object.value(name).toDouble()))
            continue;
        // A number reads as plain decimals in the range script engines write them so, and keeps
        // 15 significant digits.
        const double number = object.value(name).toDouble();
        const double magnitude = std::fabs(number);
        if (magnitude >= 1e-6 && magnitude < 1e21)
            check(!value->contains(u'e'));
        bool ok = false;
        const double back = value->toDouble(&ok);
        check(ok && std::fabs(back - number) <= 1e-14 * magnitude);
    }
    return 0;
}
