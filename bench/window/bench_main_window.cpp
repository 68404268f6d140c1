// A whole run through the real main window (offscreen): 10,000 accounts against the stand-in, no
// delay, no rate limit. Prints rows per second, the growth of peak memory and the time from the
// click on Start to the first request; then the time from 是 to the first request when a 10,000-row
// run left half done is restored from the journal.
#include "StandinHttp.h"
#include "common/ui/Dialogs.h"
#include "journal/RunJournal.h"
#include "query/QueryRun.h"
#include "query/ui/FrmMain.h"
#include "support/StandinServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <limits>

namespace {

// The session cookie is read as each request is built: the first read marks the first request.
class TimedCookie : public CookieSource {
public:
    TimedCookie(QString value, const QElapsedTimer& clock) : m_value(std::move(value)), m_clock(clock) {}
    QString cookieHeaderFor(const QUrl&) const override {
        if (m_firstMs < 0)
            m_firstMs = m_clock.elapsed();
        return m_value;
    }
    qint64 firstMs() const { return m_firstMs; }

private:
    QString m_value;
    const QElapsedTimer& m_clock;
    mutable qint64 m_firstMs = -1;
};

// Kilobytes of a line of /proc/self/status ("VmRSS:", "VmHWM:").
qint64 statusKb(const QByteArray& key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    StandinServer server({QStringLiteral("--flood-limit"), QStringLiteral("0")});
    if (!server.isRunning()) {
        std::fprintf(stderr, "stand-in did not start\n");
        return 1;
    }
    qputenv("VESMORA_OPERATOR_URL", server.baseUrl().toString().toUtf8());
    dialogs::setMessageHandler([](const dialogs::MessageRequest&) { return QMessageBox::Ok; });

    QStringList accounts;
    for (int i = 0; i < count; ++i)
        accounts << QStringLiteral("209%1").arg(30000000 + i);

    QElapsedTimer clock;
    TimedCookie cookies(standinSignIn(server.baseUrl()), clock);
    FrmMain window(&cookies);
    window.show();
    // The list offers rates up to 200 a minute; the benchmark measures the window, not the limit.
    window.run()->setRateSource([] { return std::numeric_limits<int>::max(); });
    window.findChild<QPlainTextEdit*>(QStringLiteral("TxtZh"))
        ->setPlainText(accounts.join(QLatin1Char('\n')));
    QSignalSpy finished(window.run(), &QueryRun::finished);
    QApplication::processEvents();

    // Peak memory counts from here.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const qint64 rssBefore = statusKb("VmRSS:");

    clock.start();
    window.findChild<QPushButton*>(QStringLiteral("CmdStart"))->click();
    finished.wait(3600000);
    const double seconds = double(clock.elapsed()) / 1000.0;
    const qint64 peak = statusKb("VmHWM:");

    int filled = 0;
    for (const QueryRun::Row& row : window.run()->rows())
        filled += row[QueryRun::OnuAccept].isEmpty() ? 0 : 1;
    std::printf("bench_main_window: %d rows (%d with readings) in %.2f s through the main window\n", count,
                filled, seconds);
    std::printf("  rows per second:            %.0f\n", count / seconds);
    std::printf("  Start to first request:     %lld ms (target < 1000)\n",
                static_cast<long long>(cookies.firstMs()));
    std::printf("  peak RSS growth:            %.1f MB (target < 150; %.1f MB before, %.1f MB peak)\n",
                (peak - rssBefore) / 1024.0, rssBefore / 1024.0, peak / 1024.0);

    // Restore: the journal holds a run of `count` accounts cut short half way, each finished row
    // with an earlier reading to compare with (the drop marks).
    QTemporaryDir dir;
    const QString journalPath = dir.filePath(QStringLiteral("journal.sqlite"));
    {
        RunJournal journal(journalPath);
        const QDateTime earlier = QDateTime::currentDateTimeUtc().addDays(-30);
        const qint64 old = journal.startRun(accounts, 200, earlier);
        const qint64 cut = journal.startRun(accounts, 200, earlier.addDays(29));
        const auto& rows = window.run()->rows();
        for (int i = 0; i < count; ++i) {
            const QStringList cells(rows[i].begin(), rows[i].end());
            journal.recordRow(old, i, cells, QString(), earlier.addSecs(i));
            if (i < count / 2)
                journal.recordRow(cut, i, cells, QString(), earlier.addDays(29).addSecs(i));
        }
        journal.endRun(old, journal::RunState::Finished);
    }
    RunJournal next(journalPath);
    const auto unfinished = next.claimUnfinished();
    QElapsedTimer restoreClock;
    TimedCookie restoreCookies(cookies.cookieHeaderFor(QUrl()), restoreClock);
    FrmMain restoredWindow(&restoreCookies);
    restoredWindow.attachJournal(&next);
    restoredWindow.show();
    QApplication::processEvents();
    restoreClock.start();
    const auto stored = unfinished ? next.loadRun(unfinished->id) : std::nullopt;
    const bool resumed = stored && restoredWindow.restoreRun(*stored);
    QSignalSpy restoredFinished(restoredWindow.run(), &QueryRun::finished);
    const bool asked = QTest::qWaitFor([&] { return restoreCookies.firstMs() >= 0; }, 60000);
    std::printf("  restore of %d rows, %d done: 是 to first request %lld ms (target <= 1000)\n", count,
                stored ? int(stored->rows.size()) : -1, static_cast<long long>(restoreCookies.firstMs()));
    restoredWindow.run()->stop();
    restoredFinished.wait(60000);
    return filled == count && resumed && asked ? 0 : 1;
}
