// Summarising a finished run by PON port: 10,000 rows over 1,000 ports (ten lines each, under two
// splitters), a fifth of them weak and a twentieth dropped. Target: 20 ms or less.
#include "CpuTime.h"
#include "query/PonSummary.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;
    const int ports = argc > 2 ? QByteArray(argv[2]).toInt() : 1000;

    QList<ResultRowLayout::Row> list;
    QList<bool> drops;
    list.reserve(rows);
    for (int i = 0; i < rows; ++i) {
        // Neighbouring rows belong to different ports, as accounts of a street do.
        const int port = i % ports;
        ResultRowLayout::Row row;
        row[ResultRowLayout::Account] = u"209%1"_s.arg(20000000 + i);
        row[ResultRowLayout::Result] = u"成功"_s;
        row[ResultRowLayout::OnuAccept] = i % 5 == 0 ? u"-29.41"_s : u"-21.53"_s;
        row[ResultRowLayout::OnuSend] = u"2.10"_s;
        row[ResultRowLayout::OltAccept] = u"-%1.50"_s.arg(18 + i % 7);
        row[ResultRowLayout::OltSend] = u"4.00"_s;
        row[ResultRowLayout::OltIp] = u"10.%1.%2.3"_s.arg(16 + port / 250).arg(port % 250);
        row[ResultRowLayout::OltPon] = u"0/%1/%2"_s.arg(1 + port % 16).arg(port % 8);
        row[ResultRowLayout::SplitterName] = u"幸福小区%1栋-1:8分光器-%2"_s.arg(port).arg(i / ports % 2);
        list << row;
        drops << (i % 20 == 7);
    }

    constexpr int kRounds = 15;
    std::vector<double> times;
    const double cpuBefore = cpuSeconds();
    int verdicts = 0;
    qsizetype portCount = 0;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        PonSummary summary(Thresholds{}, FaultRules{});
        for (int i = 0; i < rows; ++i)
            summary.add(i, list[i], {true, drops[i]});
        const QList<PonPort> result = summary.ports();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        portCount = result.size();
        verdicts = int(std::count_if(result.cbegin(), result.cend(),
                                     [](const PonPort& p) { return !p.verdict.isEmpty(); }));
    }
    const double cpuMs = (cpuSeconds() - cpuBefore) * 1000 / kRounds;
    std::sort(times.begin(), times.end());
    std::printf("bench_pon_summary: %d rows over %lld ports, %d with a verdict\n", rows,
                static_cast<long long>(portCount), verdicts);
    std::printf("  summary, median of %zu: %.2f ms (fastest %.2f, slowest %.2f; target <= 20 ms)\n",
                times.size(), times[times.size() / 2], times.front(), times.back());
    // The wall clock counts the time other programs hold the processor; the CPU time does not.
    std::printf("  CPU time per summary: %.2f ms\n", cpuMs);
    return 0;
}
