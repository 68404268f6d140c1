// A second program on the same journal: journal_writer PATH ROWS PREFIX records one finished run
// of ROWS rows for the accounts PREFIX0, PREFIX1, ...; exit code 1 if the journal had to give way.
// Prints "waiting" the first time it waits for a file another connection holds.
#include "journal/RunJournal.h"
#include "journal/Sqlite.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <utility>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    sqlite::setBusyObserver([told = false]() mutable {
        if (!std::exchange(told, true)) {
            std::puts("waiting");
            std::fflush(stdout);
        }
    });
    RunJournal journal(args[1]);
    const int rows = args[2].toInt();
    QStringList accounts;
    for (int i = 0; i < rows; ++i)
        accounts << args[3] + QString::number(i);
    const qint64 run = journal.startRun(accounts, 200, QDateTime::currentDateTimeUtc());
    for (int i = 0; i < rows; ++i) {
        QStringList cells(11);
        cells[0] = accounts[i];
        cells[1] = QStringLiteral("光猫在线");
        cells[2] = QStringLiteral("-2%1.50").arg(i % 10);
        journal.recordRow(run, i, cells, QString(), QDateTime::currentDateTimeUtc());
    }
    journal.endRun(run, journal::RunState::Finished);
    const QString notice = journal.takeNotice();
    if (!notice.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(notice));
    return journal.isPersistent() && notice.isEmpty() ? 0 : 1;
}
