// CPU the process spends during a rate-limit pause: 20 seconds of it, measured with getrusage.
#include "CpuTime.h"
#include "StandinHttp.h"
#include "common/NetworkTransport.h"
#include "query/QueryRun.h"
#include "query/SessionPostClient.h"
#include "support/StandinServer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pauseSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;

    StandinServer server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }
    QNetworkAccessManager network;
    net::NetworkTransport transport(&network);
    FixedCookie cookies(standinSignIn(server.baseUrl()));
    SessionPostClient client(&transport, &cookies);
    QueryRun run(&client);
    run.setOperatorBase(server.baseUrl());
    run.setRateSource([] { return 1; }); // row 2 waits for the next minute
    QSignalSpy paused(&run, &QueryRun::paused);
    QSignalSpy finished(&run, &QueryRun::finished);

    run.start(QStringLiteral("20900000001\r\n20900000002"));
    if (!paused.wait(15000)) {
        std::fprintf(stderr, "the run did not pause\n");
        return 1;
    }
    const double cpuBefore = cpuSeconds();
    const int ticksBefore = int(paused.size());
    QEventLoop idle;
    QTimer::singleShot(pauseSeconds * 1000, Qt::PreciseTimer, &idle, &QEventLoop::quit);
    idle.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const int countdownChanges = int(paused.size()) - ticksBefore;
    const QString last = paused.last().at(0).toString();
    run.stop();
    finished.wait(5000);

    std::printf("bench_idle_pause: %d s of rate-limit pause\n", pauseSeconds);
    std::printf("  CPU seconds used:   %.4f (target under 0.05)\n", cpu);
    std::printf("  countdown updates:  %d, last \"%s\"\n", countdownChanges, last.toUtf8().constData());
    std::printf("  stopped with:       %s\n",
                finished.isEmpty() ? "(no end)" : finished.first().at(0).toString().toUtf8().constData());
    return 0;
}
