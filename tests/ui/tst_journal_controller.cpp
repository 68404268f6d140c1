// The main window on a journal, as the program composes it: a run cut short is restored with 是,
// drops are marked on restored and newly finished rows, "查看历史" opens the account's readings
// and the export carries the "历史" sheet.
#include "StandinHttp.h"
#include "StandinServer.h"
#include "app/WorkWindows.h"
#include "common/ui/Dialogs.h"
#include "journal/RunJournal.h"
#include "query/Thresholds.h"
#include "query/ui/FrmMain.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace {

QStringList cells(const QString& account, const QString& ontReceive, const QString& oltReceive) {
    return {account,  u"成功"_s,     ontReceive, u"2.10"_s, oltReceive, u"3.00"_s,
            u"EMS"_s, u"10.0.0.1"_s, u"0/1/1"_s, u"LOID"_s, u"分光器"_s};
}

// Counts the requests as they are built.
struct CountingCookie : FixedCookie {
    using FixedCookie::FixedCookie;
    QString cookieHeaderFor(const QUrl& url) const override {
        ++reads;
        return FixedCookie::cookieHeaderFor(url);
    }
    mutable int reads = 0;
};

QDateTime utc(int month, int day) {
    return QDateTime(QDate(2026, month, day), QTime(4, 0), Qt::UTC);
}

} // namespace

class JournalControllerTest : public QObject {
    Q_OBJECT

private slots:
    // The main window's layout stays out of the user's folder.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void restoredRunShowsDropsHistoryAndExport();
    void endingMidRowKeepsTheRunToOffer();
};

void JournalControllerTest::restoredRunShowsDropsHistoryAndExport() {
    StandinServer server;
    QVERIFY(server.isRunning());
    qputenv("VESMORA_OPERATOR_URL", server.baseUrl().toString().toUtf8());
    QTemporaryDir dir;
    const QString path = dir.filePath(u"journal.sqlite"_s);
    const QStringList accounts{u"2090000001"_s, u"2090000002"_s};
    {
        RunJournal journal(path);
        const qint64 old = journal.startRun(accounts, 30, utc(11, 2));
        journal.recordRow(old, 0, cells(accounts[0], u"-19.80"_s, u"-20.00"_s), {}, utc(11, 2));
        journal.recordRow(old, 1, cells(accounts[1], u"5.00"_s, u"5.00"_s), {}, utc(11, 2));
        journal.endRun(old, journal::RunState::Finished);
        const qint64 cut = journal.startRun(accounts, 200, utc(12, 1));
        journal.recordRow(cut, 0, cells(accounts[0], u"-22.80"_s, u"-20.00"_s), {}, utc(12, 1));
    }

    QStringList asked;
    dialogs::setMessageHandler([&asked](const dialogs::MessageRequest& request) {
        asked << request.title + u": "_s + request.text;
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    FixedCookie cookie(standinSignIn(server.baseUrl()));
    WorkWindows work(&cookie, nullptr, path);
    work.signedIn();
    QCOMPARE(asked.value(0), u"Vesmora: 上次查询未完成（已完成 1/2），是否继续?"_s);
    QTRY_VERIFY_WITH_TIMEOUT(asked.contains(u"Vesmora: 查询结束!"_s), 20000);

    auto* list = work.mainWindow()->findChild<QTreeView*>(u"LstV"_s);
    const QAbstractItemModel* rows = list->model();
    const auto cell = [rows](int row, int column, int role) { return rows->index(row, column).data(role); };
    QCOMPARE(cell(0, 2, Qt::DisplayRole).toString(), u"-22.80"_s);
    QCOMPARE(cell(0, 2, Qt::ToolTipRole).toString(), u"上次 -19.80 (2026-11-02)"_s);
    QCOMPARE(cell(0, 2, Qt::BackgroundRole).value<QBrush>().color(), QColor::fromRgb(QRgb(marks::kDropFill)));
    QCOMPARE(cell(0, 4, Qt::ToolTipRole).toString(), QString());
    QCOMPARE(cell(1, 2, Qt::ToolTipRole).toString(), u"上次 5.00 (2026-11-02)"_s);
    if (qEnvironmentVariableIsSet("VESMORA_SHOT"))
        work.mainWindow()->grab().save(qEnvironmentVariable("VESMORA_SHOT"));

    list->setCurrentIndex(rows->index(0, 0));
    work.mainWindow()->findChild<QAction*>(u"mnuHistory"_s)->trigger();
    QWidget* history = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowTitle() == u"历史读数 - 2090000001"_s)
            history = window;
    }
    QVERIFY(history);
    QCOMPARE(history->findChild<QTableWidget*>(u"historyTable"_s)->rowCount(), 2);
    if (qEnvironmentVariableIsSet("VESMORA_SHOT"))
        history->grab().save(qEnvironmentVariable("VESMORA_SHOT").replace(u".png"_s, u"-history.png"_s));

    const QString book = dir.filePath(u"book.xlsx"_s);
    dialogs::setSaveHandler([&book](const dialogs::SaveRequest&) { return book; });
    asked.clear();
    work.mainWindow()->findChild<QPushButton*>(u"CmdSave"_s)->click();
    QCOMPARE(asked.value(0), u"Vesmora: 导出数据成功,是否立即打开!"_s);
    dialogs::setMessageHandler({});
    dialogs::setSaveHandler({});
#ifdef Q_OS_LINUX
    QProcess names;
    names.start(u"python3"_s, {u"-c"_s,
                               u"import sys,zipfile;"
                               "sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read('xl/workbook.xml')"
                               ".decode())"_s,
                               book});
    QVERIFY(names.waitForFinished(30000));
    QVERIFY(QString::fromUtf8(names.readAllStandardOutput()).contains(u"name=\"历史\""_s));
#endif
}

// 是 to "是否确认退出" during a lookup: the windows go, the rows finished stay, the row in flight is
// not recorded as failed, and the run is offered at the next start.
void JournalControllerTest::endingMidRowKeepsTheRunToOffer() {
    StandinServer server;
    QVERIFY(server.isRunning());
    qputenv("VESMORA_OPERATOR_URL", server.baseUrl().toString().toUtf8());
    QTemporaryDir dir;
    const QString path = dir.filePath(u"journal.sqlite"_s);
    QStringList asked;
    dialogs::setMessageHandler([&asked](const dialogs::MessageRequest& request) {
        asked << request.text;
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::No : QMessageBox::Ok;
    });
    CountingCookie cookie(standinSignIn(server.baseUrl()));
    {
        WorkWindows work(&cookie, nullptr, path);
        work.signedIn();
        work.mainWindow()->findChild<QPlainTextEdit*>(u"TxtZh"_s)->setPlainText(u"2090000001\nres-slow-3"_s);
        work.mainWindow()->findChild<QPushButton*>(u"CmdStart"_s)->click();
        QTRY_COMPARE_WITH_TIMEOUT(cookie.reads, 3, 10000); // row 1's two lookups, row 2's first
    }
    WorkWindows next(&cookie, nullptr, path);
    next.signedIn();
    dialogs::setMessageHandler({});
    QCOMPARE(asked.last(), u"上次查询未完成（已完成 1/2），是否继续?"_s);
}

QTEST_MAIN(JournalControllerTest)
#include "tst_journal_controller.moc"
