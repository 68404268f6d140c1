#include "query/PonSummary.h"

#include "common/IniFile.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

const QString kSection = u"Faults"_s;

// No division: 3 bad of 5 lines stays exactly 60 %.
bool enough(int count, int lines, const FaultRules& rules) {
    return lines >= rules.minLines && count * 100.0 >= rules.badShare * lines;
}

} // namespace

FaultRules FaultRules::fromIni(const QString& path) {
    FaultRules rules;
    bool ok = false;
    const int minLines = iniRead(kSection, u"MinLines"_s, QString(), path).toInt(&ok);
    // One line is no shared fault: it keeps its own mark in the list.
    if (ok && minLines >= 2)
        rules.minLines = minLines;
    const double badShare = iniRead(kSection, u"BadShare"_s, QString(), path).toDouble(&ok);
    if (ok && std::isfinite(badShare) && badShare > 0 && badShare <= 100)
        rules.badShare = badShare;
    return rules;
}

PonSummary::PonSummary(const Thresholds& thresholds, const FaultRules& rules)
    : m_thresholds(thresholds), m_rules(rules) {}

void PonSummary::add(int row, const ResultRowLayout::Row& cells, Marks marks) {
    if (!marks.done)
        return;
    const QString ip = cells[ResultRowLayout::OltIp].trimmed();
    const QString pon = cells[ResultRowLayout::OltPon].trimmed();
    if (ip.isEmpty() || pon.isEmpty())
        return;
    const bool weak = m_thresholds.isWeak(ResultRowLayout::OnuAccept, cells[ResultRowLayout::OnuAccept]) ||
                      m_thresholds.isWeak(ResultRowLayout::OltAccept, cells[ResultRowLayout::OltAccept]);
    const bool bad = weak || marks.drop;

    const auto [port, newPort] = m_port.try_emplace({ip, pon}, int(m_ports.size()));
    if (newPort) {
        PonPort added;
        added.oltIp = ip;
        added.oltPon = pon;
        m_ports.append(added);
    }
    PonPort& p = m_ports[port->second];
    const QString name = cells[ResultRowLayout::SplitterName].trimmed();
    const auto [splitter, newSplitter] =
        m_splitter.try_emplace({port->second, name}, int(p.splitters.size()));
    if (newSplitter)
        p.splitters.append(SplitterCount{name});
    SplitterCount& s = p.splitters[splitter->second];
    ++p.lines;
    ++s.lines;
    if (weak) {
        ++p.weak;
        ++s.weak;
    }
    if (marks.drop) {
        ++p.drops;
        ++s.drops;
    }
    if (bad) {
        ++p.bad;
        ++s.bad;
    }
    p.rows.append(row);
}

QList<PonPort> PonSummary::ports() const {
    QList<PonPort> ports = m_ports;
    for (PonPort& port : ports) {
        // Rows that name no splitter count for their port, but point at no splitter of it.
        const auto named = [](const SplitterCount& s) { return !s.name.isEmpty(); };
        const auto badSplitters =
            std::count_if(port.splitters.cbegin(), port.splitters.cend(),
                          [&](const SplitterCount& s) { return named(s) && s.bad > 0; });
        if (badSplitters >= 2 && enough(port.bad, port.lines, m_rules)) {
            port.verdict = u"疑似主干光路故障"_s;
            continue;
        }
        QStringList verdicts;
        for (const SplitterCount& s : std::as_const(port.splitters)) {
            if (named(s) && enough(s.bad, s.lines, m_rules))
                verdicts << u"疑似分光器故障："_s + s.name;
        }
        port.verdict = verdicts.join(u"；"_s);
    }
    std::stable_sort(ports.begin(), ports.end(), [](const PonPort& a, const PonPort& b) {
        if (a.verdict.isEmpty() != b.verdict.isEmpty())
            return !a.verdict.isEmpty();
        return a.bad > b.bad;
    });
    return ports;
}

QStringList PonSummary::headers() {
    return {u"OLT IP"_s, u"OLT PON"_s, u"帐号数"_s, u"弱光数"_s, u"下降数"_s, u"判断"_s};
}

QStringList PonSummary::texts(const PonPort& port) {
    return {port.oltIp,
            port.oltPon,
            QString::number(port.lines),
            QString::number(port.weak),
            QString::number(port.drops),
            port.verdict};
}

QString PonSummary::details(const PonPort& port) {
    QStringList lines;
    lines.reserve(port.splitters.size());
    for (const SplitterCount& s : port.splitters) {
        QString line = (s.name.isEmpty() ? u"（无分光器名称）"_s : s.name) + u"："_s +
                       u"%1/%2 弱光"_s.arg(s.weak).arg(s.lines);
        if (s.drops > 0)
            line += u"，%1/%2 下降"_s.arg(s.drops).arg(s.lines);
        lines << line;
    }
    return lines.join(u'\n');
}

QString PonSummary::sheetName() {
    return u"PON口汇总"_s;
}
