// Client overhead of a whole run: 2,000 accounts against the stand-in, no delay, no rate limit.
#include "CpuTime.h"
#include "StandinHttp.h"
#include "common/NetworkTransport.h"
#include "query/QueryRun.h"
#include "query/SessionPostClient.h"
#include "support/StandinServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <cstdio>
#include <limits>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;

    StandinServer server({QStringLiteral("--flood-limit"), QStringLiteral("0")});
    if (!server.isRunning()) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }
    const QString cookie = standinSignIn(server.baseUrl());

    QStringList accounts;
    for (int i = 0; i < count; ++i)
        accounts << QStringLiteral("209%1").arg(20000000 + i);

    QNetworkAccessManager network;
    net::NetworkTransport transport(&network);
    FixedCookie cookies(cookie);
    SessionPostClient client(&transport, &cookies);
    QueryRun run(&client);
    run.setOperatorBase(server.baseUrl());
    run.setRateSource([] { return std::numeric_limits<int>::max(); });
    QSignalSpy finished(&run, &QueryRun::finished);

    QElapsedTimer wall;
    const double cpuBefore = cpuSeconds();
    wall.start();
    run.start(accounts.join(QStringLiteral("\r\n")));
    finished.wait(600000);
    const double seconds = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;

    int filled = 0;
    for (const QueryRun::Row& row : run.rows())
        filled += row[QueryRun::OnuAccept].isEmpty() ? 0 : 1;
    std::printf("bench_query_client: %d rows (%d with readings) in %.2f s wall\n", count, filled, seconds);
    std::printf("  rows per second:    %.0f\n", count / seconds);
    std::printf("  CPU seconds total:  %.3f (client process)\n", cpu);
    std::printf("  CPU seconds per row: %.6f\n", cpu / count);
    return filled == count ? 0 : 1;
}
