#include "query/Thresholds.h"

#include "common/IniFile.h"
#include "common/ProgramFolder.h"
#include "query/ResultRow.h"

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString kSection = u"Thresholds"_s;

double readNumber(const QString& path, const QString& key, double fallback) {
    bool ok = false;
    const double value = iniRead(kSection, key, QString(), path).toDouble(&ok);
    return ok && std::isfinite(value) ? value : fallback;
}

Thresholds::Window readWindow(const QString& path, const QString& prefix, Thresholds::Window fallback) {
    const Thresholds::Window window{readNumber(path, prefix + u"Min"_s, fallback.low),
                                    readNumber(path, prefix + u"Max"_s, fallback.high)};
    return window.low <= window.high ? window : fallback;
}

bool outside(const Thresholds::Window& window, const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) && (value < window.low || value > window.high);
}

} // namespace

Thresholds Thresholds::fromIni(const QString& path) {
    Thresholds thresholds;
    thresholds.ontReceive = readWindow(path, u"OntRx"_s, thresholds.ontReceive);
    thresholds.oltReceive = readWindow(path, u"OltRx"_s, thresholds.oltReceive);
    const double drop = readNumber(path, u"DropDb"_s, thresholds.dropDb);
    if (drop > 0)
        thresholds.dropDb = drop;
    return thresholds;
}

QString Thresholds::iniPath() {
    return Lj() + u"vesmora.ini"_s;
}

bool Thresholds::isWeak(int column, const QString& text) const {
    switch (column) {
    case ResultRowLayout::OnuAccept:
        return outside(ontReceive, text);
    case ResultRowLayout::OltAccept:
        return outside(oltReceive, text);
    default:
        return false;
    }
}
