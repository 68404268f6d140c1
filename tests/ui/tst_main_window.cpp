#include "common/ErrorText.h"
#include "common/ProgramFolder.h"
#include "common/ui/Dialogs.h"
#include "common/ui/Translations.h"
#include "common/ui/WindowKit.h"
#include "query/CookieSource.h"
#include "query/QueryRun.h"
#include "query/Thresholds.h"
#include "query/ui/ElidingHeader.h"
#include "query/ui/FrmMain.h"
#include "query/ui/LayoutMemory.h"
#include "query/ui/ResultModel.h"
#include "support/StandinServer.h"
#include "support/XlsxReadBack.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace {

// A row of the result list as the view shows it.
struct ListRow {
    const QAbstractItemModel* model;
    int row;
    QVariant data(int column, int role) const { return model->data(model->index(row, column), role); }
    QString text(int column) const { return data(column, Qt::DisplayRole).toString(); }
    QString toolTip(int column) const { return data(column, Qt::ToolTipRole).toString(); }
    QBrush foreground(int column) const { return data(column, Qt::ForegroundRole).value<QBrush>(); }
    QBrush background(int column) const { return data(column, Qt::BackgroundRole).value<QBrush>(); }
};

// The window's controls, found by their names.
struct Controls {
    explicit Controls(const QWidget& w)
        : TxtZh(find<QPlainTextEdit>(w, "TxtZh")), LstV(find<QTreeView>(w, "LstV")),
          Frame1(find<QFrame>(w, "Frame1")), LabTip(find<QLabel>(w, "LabTip")),
          LabSession(find<QLabel>(w, "LabSession")), Prg(find<QProgressBar>(w, "Prg")),
          COBNUM(find<QComboBox>(w, "COBNUM")), CmdStart(find<QPushButton>(w, "CmdStart")),
          CmdStop(find<QPushButton>(w, "CmdStop")), CmdSave(find<QPushButton>(w, "CmdSave")),
          mnuRetry(find<QAction>(w, "mnuRetry")) {}
    template <typename T> static T* find(const QWidget& w, const char* name) {
        T* found = w.findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QPlainTextEdit* TxtZh;
    QTreeView* LstV;
    ListRow item(int row) const { return {LstV->model(), row}; }
    int rowCount() const { return LstV->model()->rowCount(); }
    QString caption(int column) const { return LstV->model()->headerData(column, Qt::Horizontal).toString(); }
    QFrame* Frame1;
    QLabel* LabTip;
    QLabel* LabSession;
    QProgressBar* Prg;
    QComboBox* COBNUM;
    QPushButton* CmdStart;
    QPushButton* CmdStop;
    QPushButton* CmdSave;
    QAction* mnuRetry;
};

class FixedCookie : public CookieSource {
public:
    QString value;
    QString cookieHeaderFor(const QUrl&) const override { return value; }
};

// Signs in over plain HTTP and returns the session cookie the server set.
QString signIn(const QUrl& base) {
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(base.toString() + QStringLiteral("/ehmsexp/jsp/login/login.jsp")));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = network.post(request, QByteArrayLiteral("username=demo&password=demo123"));
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!done.wait(5000))
        return {};
    QString cookie;
    const auto cookies = QNetworkCookie::parseCookies(reply->rawHeader("Set-Cookie"));
    for (const QNetworkCookie& c : cookies)
        cookie = QString::fromUtf8(c.name() + '=' + c.value());
    reply->deleteLater();
    return cookie;
}

QList<QWidget*> tabChain(QWidget* window, QWidget* first) {
    QList<QWidget*> chain;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w;
        w = w->nextInFocusChain();
    } while (w && w != first && chain.size() < 20);
    Q_UNUSED(window);
    return chain;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    StandinServer* m_server = nullptr;
    QTemporaryDir m_settings;
    FixedCookie m_cookie;
    QStringList m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;

private slots:
    void initTestCase() {
        // The layout the windows remember goes to a folder of this run, not the user's.
        QVERIFY(m_settings.isValid());
        LayoutMemory::setSettingsPathOverride(m_settings.filePath(u"settings.ini"_s));
        m_server = new StandinServer();
        QVERIFY(m_server->isRunning());
        qputenv("VESMORA_OPERATOR_URL", m_server->baseUrl().toString().toUtf8());
        m_cookie.value = signIn(m_server->baseUrl());
        QVERIFY(m_cookie.value.startsWith(QStringLiteral("JSESSIONID=")));
        dialogs::setMessageHandler([this](const dialogs::MessageRequest& request) {
            m_messages << request.text;
            return m_answer;
        });
    }

    void cleanupTestCase() {
        dialogs::setMessageHandler({});
        delete m_server;
    }

    void init() {
        QFile::remove(LayoutMemory::settingsPath());
        m_messages.clear();
        m_answer = QMessageBox::Ok;
    }

    void afterLoad() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("Vesmora V2.1.0"));
        QCOMPARE(w.size(), QSize(774, 541));
        QCOMPARE(c.COBNUM->count(), 19);
        QCOMPARE(c.COBNUM->itemText(0), QStringLiteral("10"));
        QCOMPARE(c.COBNUM->itemText(18), QStringLiteral("200"));
        QCOMPARE(c.COBNUM->currentText(), QStringLiteral("30"));
        QVERIFY(!c.CmdStop->isEnabled());
        QVERIFY(c.CmdStart->isEnabled());
        QVERIFY(c.CmdSave->isEnabled());
        QVERIFY(c.Frame1->isHidden());
        QCOMPARE(c.Prg->value(), 0);
        QCOMPARE(c.rowCount(), 0);
        QCOMPARE(w.headerTexts(),
                 (QStringList{QStringLiteral("209帐号"), QStringLiteral("结果"),
                              QStringLiteral("光猫接收光功率(dB)"), QStringLiteral("光猫发送光功率(dB)"),
                              QStringLiteral("OLT接收光功率(dB)"), QStringLiteral("OLT发送光功率(dB)"),
                              QStringLiteral("所属EMS"), QStringLiteral("OLT IP"), QStringLiteral("OLT PON"),
                              QStringLiteral("激活LOID"), QStringLiteral("分光器名称")}));
        const int widths[] = {96, 147, 80, 80, 80, 80, 133, 80, 96, 96, 229};
        for (int i = 0; i < 11; ++i) {
            QCOMPARE(c.LstV->columnWidth(i), widths[i]);
            // A header cut short by a wide face ends in "…" and still tells its whole text.
            const QString full = c.caption(i);
            QCOMPARE(c.LstV->model()->headerData(i, Qt::Horizontal, Qt::ToolTipRole).toString(), full);
            const auto* header = qobject_cast<const ElidingHeader*>(c.LstV->header());
            QVERIFY(header);
            const QString shown = header->shownText(i);
            QVERIFY2(shown == full || (shown.endsWith(u'…') && full.startsWith(shown.chopped(1))),
                     qPrintable(shown));
            QVERIFY(QFontMetrics(header->font()).horizontalAdvance(shown) < widths[i]);
        }
        QVERIFY(w.windowFlags() & Qt::WindowMaximizeButtonHint);
        QCOMPARE(w.minimumSize(), QSize(774, 541));
        QCOMPARE(c.CmdStart->text(), QStringLiteral("开始查询(&R)"));
        QCOMPARE(c.CmdStop->text(), QStringLiteral("停止(&T)"));
        QCOMPARE(c.CmdSave->text(), QStringLiteral("导出结果(&S)"));

        const QList<QWidget*> expected{c.CmdSave, c.CmdStart, c.LstV, c.TxtZh, c.COBNUM};
        QCOMPARE(tabChain(&w, c.CmdSave).mid(0, 5), expected);
        // CmdStop follows COBNUM in the chain once it is enabled.
        c.CmdStop->setEnabled(true);
        QCOMPARE(tabChain(&w, c.CmdSave).mid(0, 6), expected + QList<QWidget*>{c.CmdStop});
    }

    // The list takes the room a larger window gives; the rest keep to their edges. Size and the
    // widths the user drags come back in the next window.
    void theWindowGrowsAndRemembers() {
        QRect list, bar, start, accounts;
        {
            FrmMain w(&m_cookie);
            const Controls c(w);
            w.show();
            list = c.LstV->geometry();
            bar = c.Prg->geometry();
            start = c.CmdStart->geometry();
            accounts = c.TxtZh->geometry();
            w.resize(1074, 741);
            QCOMPARE(c.LstV->geometry(), list.adjusted(0, 0, 300, 200));
            QCOMPARE(c.Prg->geometry(), bar.adjusted(0, 200, 300, 200));
            QCOMPARE(c.CmdStart->geometry(), start.translated(0, 200));
            QCOMPARE(c.TxtZh->geometry(), accounts.adjusted(0, 0, 0, 200));
            QCOMPARE(c.Frame1->geometry().center(), QPoint(459, 210) + QPoint(150, 100));
            c.LstV->header()->resizeSection(QueryRun::OltIp, 140);
            w.resize(500, 300);
            QCOMPARE(w.size(), QSize(774, 541));
            QCOMPARE(c.LstV->geometry(), list);
            w.resize(1074, 741);
        }
        FrmMain again(&m_cookie);
        const Controls c(again);
        QCOMPARE(again.size(), QSize(1074, 741));
        QCOMPARE(c.LstV->columnWidth(QueryRun::OltIp), 140);
        QCOMPARE(c.LstV->columnWidth(QueryRun::Account), 96);
        // Wide enough, a caption shows whole.
        auto* header = qobject_cast<ElidingHeader*>(c.LstV->header());
        for (int i = 0; i < 11; ++i) {
            header->resizeSection(i, header->sectionSizeHint(i));
            QCOMPARE(header->shownText(i), c.caption(i));
        }
    }

    // The window and its frame within the screen's free area; a window frame of 8 px with a title
    // bar of 31 px, a first size of 774 x 541 and a floor of 600 x 400.
    void fitWithinTheScreen_data() {
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("minimum");
        const QRect below(0, 0, 1280, 984); // 1280 x 1024 less a taskbar
        QTest::newRow("fits: centred")
            << QSize(1074, 741) << below << QPoint(95, 102) << QSize(1074, 741) << QSize(774, 541);
        QTest::newRow("frame just fills the area")
            << QSize(1264, 945) << below << QPoint(0, 0) << QSize(1264, 945) << QSize(774, 541);
        QTest::newRow("a pixel over")
            << QSize(1265, 946) << below << QPoint(0, 0) << QSize(1264, 945) << QSize(774, 541);
        QTest::newRow("3000 x 2000") << QSize(3000, 2000) << below << QPoint(0, 0) << QSize(1264, 945)
                                     << QSize(774, 541);
        QTest::newRow("second screen, taskbar on top")
            << QSize(3000, 2000) << QRect(1280, 40, 1280, 984) << QPoint(1280, 40) << QSize(1264, 945)
            << QSize(774, 541);
        QTest::newRow("screen under the first size")
            << QSize(774, 541) << QRect(0, 0, 800, 560) << QPoint(5, 0) << QSize(774, 521) << QSize(774, 521);
        QTest::newRow("screen under the floor")
            << QSize(774, 541) << QRect(0, 0, 640, 400) << QPoint(0, 0) << QSize(624, 400) << QSize(624, 400);
    }
    void fitWithinTheScreen() {
        QFETCH(QSize, asked);
        QFETCH(QRect, available);
        QFETCH(QPoint, position);
        QFETCH(QSize, size);
        QFETCH(QSize, minimum);
        const ScreenFit fit =
            fitWithin(asked, QMargins(8, 31, 8, 8), QSize(774, 541), QSize(600, 400), available);
        QCOMPARE(fit.framePosition, position);
        QCOMPARE(fit.size, size);
        QCOMPARE(fit.minimum, minimum);
    }

    // A size remembered from a larger screen: the window and its frame fill this one, the buttons
    // in view at their distance from the bottom edge.
    void rememberedSizeLargerThanTheScreen() {
        QSettings(LayoutMemory::settingsPath(), QSettings::IniFormat)
            .setValue(u"MainWindow/Size"_s, QSize(3000, 2000));
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect screen = w.screen()->availableGeometry();
        if (qEnvironmentVariableIsSet("VESMORA_SHOT"))
            w.screen()->grabWindow(0).save(qEnvironmentVariable("VESMORA_SHOT"));
        QVERIFY2(screen.contains(w.frameGeometry()), qPrintable(u"%1 x %2"_s.arg(w.width()).arg(w.height())));
        QCOMPARE(w.frameGeometry(), screen);
        for (const QPushButton* button : {c.CmdStart, c.CmdStop, c.CmdSave})
            QVERIFY(screen.contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())));
        QCOMPARE(c.CmdSave->geometry().bottom() + 13, w.height() - 1);
    }

    // While the user reads rows above, the list stays; back at the newest row it follows again.
    void theListFollowsUntilTheUserScrollsAway() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        w.run()->setRateSource([] { return 100000; });
        QStringList accounts;
        for (int i = 0; i < 90; ++i)
            accounts << u"2090001%1"_s.arg(i, 4, 10, QLatin1Char('0'));
        c.TxtZh->setPlainText(accounts.join(u'\n'));
        QScrollBar* bar = c.LstV->verticalScrollBar();
        int heldAt = -1;
        connect(w.run(), &QueryRun::rowDone, bar, [&](int row) {
            if (row == 40) {
                bar->triggerAction(QAbstractSlider::SliderToMinimum);
            } else if (row == 60) {
                heldAt = bar->value();
                // Back down to the newest row, by the user's hand, a page at a time.
                bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
                bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            }
        });
        QSignalSpy finished(w.run(), &QueryRun::finished);
        c.CmdStart->click();
        QVERIFY(finished.wait(30000));
        QCOMPARE(heldAt, 0);
        const QRect last = c.LstV->visualRect(c.LstV->model()->index(89, 0));
        QVERIFY(last.top() >= 0 && last.bottom() < c.LstV->viewport()->height());
    }

    // During a run the keys scroll the list as its bar does, and count alike: away from the newest
    // row the list stays where the user put it, back at it the list follows again.
    void keysScrollTheListAsTheUserWants_data() {
        QTest::addColumn<int>("away");
        QTest::addColumn<int>("back");
        QTest::newRow("Home, then Page Down") << int(Qt::Key_Home) << int(Qt::Key_PageDown);
        QTest::newRow("Page Up, then Down") << int(Qt::Key_PageUp) << int(Qt::Key_Down);
        QTest::newRow("Up, then Page Down") << int(Qt::Key_Up) << int(Qt::Key_PageDown);
        QTest::newRow("End, then Up") << int(Qt::Key_End) << int(Qt::Key_Up);
    }
    void keysScrollTheListAsTheUserWants() {
        QFETCH(int, away);
        QFETCH(int, back);
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        w.run()->setRateSource([] { return 100000; });
        QStringList accounts;
        for (int i = 0; i < 90; ++i)
            accounts << u"2090002%1"_s.arg(i, 4, 10, QLatin1Char('0'));
        c.TxtZh->setPlainText(accounts.join(u'\n'));
        const auto inView = [&c](int row) {
            const QRect r = c.LstV->visualRect(c.LstV->model()->index(row, 0));
            return r.isValid() && c.LstV->viewport()->rect().intersects(r);
        };
        // The list shows where the run stands once per flush; the run is held after row 40 until the
        // list has been shown once.
        QSignalSpy flushed(qobject_cast<ResultModel*>(c.LstV->model()), &ResultModel::flushed);
        QScrollBar* bar = c.LstV->verticalScrollBar();
        int leftAt = -1;
        qsizetype flushesAt40 = 0;
        connect(w.run(), &QueryRun::rowDone, bar, [&](int row) {
            if (row == 40) {
                for (int i = 0; i == 0 || (i < 100 && inView(row)); ++i)
                    QTest::keyClick(c.LstV, Qt::Key(away));
                leftAt = bar->value();
                flushesAt40 = flushed.size();
                w.run()->hold();
            } else if (row == 60) {
                for (int i = 0; i < 100 && !inView(row); ++i)
                    QTest::keyClick(c.LstV, Qt::Key(back));
            }
        });
        QSignalSpy finished(w.run(), &QueryRun::finished);
        c.CmdStart->click();
        QTRY_VERIFY_WITH_TIMEOUT(leftAt >= 0 && flushed.size() > flushesAt40, 20000);
        QCOMPARE(bar->value(), leftAt);
        w.run()->release();
        QVERIFY(finished.wait(30000));
        QVERIFY(inView(89));
    }

    void lineBreaksOfEveryKindEndALine() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        c.TxtZh->setPlainText(QStringLiteral("a\nb"));
        QCOMPARE(w.accountText(), QStringLiteral("a\r\nb"));
        c.TxtZh->clear();
        c.TxtZh->insertPlainText(QStringLiteral("a\r\nb\rc\n"));
        QCOMPARE(QueryRun::splitAccounts(w.accountText()),
                 (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        c.TxtZh->clear();
        QTest::keyClicks(c.TxtZh, QStringLiteral("20900000001"));
        QTest::keyClick(c.TxtZh, Qt::Key_Return);
        QTest::keyClicks(c.TxtZh, QStringLiteral("20900000002"));
        QCOMPARE(w.accountText(), QStringLiteral("20900000001\r\n20900000002"));
    }

    void emptyTextShowsTheMessage() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        c.CmdStart->click();
        QCOMPARE(m_messages, QStringList{QStringLiteral("请先输入要查询的209帐号，一行一个!")});
        QCOMPARE(QApplication::focusWidget(), c.TxtZh);
        QVERIFY(c.CmdStart->isEnabled());
    }

    void wholeRunFillsTheList() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QTest::keyClicks(c.TxtZh, QStringLiteral("20900000001"));
        QTest::keyClick(c.TxtZh, Qt::Key_Return);
        QTest::keyClick(c.TxtZh, Qt::Key_Return);
        QTest::keyClicks(c.TxtZh, QStringLiteral("20900000002"));
        QTest::keyClick(c.TxtZh, Qt::Key_Return);
        QSignalSpy finished(w.run(), &QueryRun::finished);
        QTest::mouseClick(c.CmdStart, Qt::LeftButton);
        QCOMPARE(c.rowCount(), 2);
        QVERIFY(!c.CmdStart->isEnabled());
        QVERIFY(!c.COBNUM->isEnabled());
        // Readable during the run: it scrolls, nothing can be selected.
        QVERIFY(c.LstV->isEnabled());
        QCOMPARE(c.LstV->selectionMode(), QAbstractItemView::NoSelection);
        QVERIFY(c.CmdStop->isEnabled());
        QVERIFY(c.CmdSave->isEnabled());
        QVERIFY(c.TxtZh->isEnabled());
        QCOMPARE(c.Prg->maximum(), 2);

        QVERIFY(finished.wait(20000));
        QCOMPARE(m_messages, QStringList{QStringLiteral("查询结束!")});
        QVERIFY(c.CmdStart->isEnabled());
        QVERIFY(!c.CmdStop->isEnabled());
        QVERIFY(c.COBNUM->isEnabled());
        QVERIFY(c.LstV->isEnabled());
        QVERIFY(c.LstV->selectionMode() != QAbstractItemView::NoSelection);
        QCOMPARE(c.Prg->value(), 0);
        const auto rows = w.rowTexts();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][0], QStringLiteral("20900000001"));
        QCOMPARE(rows[1][0], QStringLiteral("20900000002"));
        for (const QStringList& row : rows) {
            QVERIFY2(!row[1].isEmpty(), qPrintable(row.join(QLatin1Char('|'))));
            for (int column = 2; column <= 10; ++column)
                QVERIFY2(!row[column].isEmpty(), qPrintable(row.join(QLatin1Char('|'))));
        }
    }

    void stopDuringThePause() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        c.COBNUM->setCurrentIndex(0); // 10 a minute
        QStringList accounts;
        for (int i = 1; i <= 12; ++i)
            accounts << QStringLiteral("209000001%1").arg(i, 2, 10, QLatin1Char('0'));
        c.TxtZh->setPlainText(accounts.join(QLatin1Char('\n')));
        QSignalSpy finished(w.run(), &QueryRun::finished);
        c.CmdStart->click();
        QTRY_VERIFY_WITH_TIMEOUT(c.Frame1->isVisible(), 20000);
        QVERIFY(c.LabTip->text().startsWith(QStringLiteral("限速暂停中(")));
        QVERIFY(c.LabTip->text().endsWith(QStringLiteral("S）……")));
        QCOMPARE(c.Prg->value(), 10);
        QCOMPARE(c.Prg->text(), u"10/12"_s);

        // Closing and answering No keeps the window and the run.
        m_answer = QMessageBox::No;
        QSignalSpy end(&w, &FrmMain::programEndRequested);
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
        QVERIFY(w.run()->isRunning());
        QCOMPARE(m_messages, QStringList{QStringLiteral("是否确认退出")});
        QCOMPARE(end.size(), 0);

        m_answer = QMessageBox::Ok;
        m_messages.clear();
        QTest::mouseClick(c.CmdStop, Qt::LeftButton);
        QVERIFY(!c.CmdStop->isEnabled());
        QVERIFY(finished.wait(5000));
        QCOMPARE(m_messages, QStringList{QStringLiteral("已停止查询!")});
        QVERIFY(c.Frame1->isHidden());
        QCOMPARE(c.rowCount(), 12);
        QCOMPARE(c.item(11).text(1), u"未查询"_s);
        QVERIFY(w.run()->rows()[11][1].isEmpty());
    }

    void closingWithYesEndsTheProgramDuringARun() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        c.COBNUM->setCurrentIndex(0);
        QStringList accounts;
        for (int i = 1; i <= 11; ++i)
            accounts << QStringLiteral("209000002%1").arg(i, 2, 10, QLatin1Char('0'));
        c.TxtZh->setPlainText(accounts.join(QLatin1Char('\n')));
        c.CmdStart->click();
        QTRY_VERIFY_WITH_TIMEOUT(c.Frame1->isVisible(), 20000);
        m_answer = QMessageBox::Yes;
        QSignalSpy end(&w, &FrmMain::programEndRequested);
        QVERIFY(w.close());
        QCOMPARE(end.size(), 1);
    }

    void qtTextsAreChinese() {
        QVERIFY(installChineseTranslations(qApp) > 0);
        for (const auto& [context, source] :
             {std::pair{"QPlatformTheme", "OK"}, std::pair{"QPlatformTheme", "Cancel"},
              std::pair{"QFileDialog", "Look in:"}}) {
            const QString text = QCoreApplication::translate(context, source);
            QVERIFY2(text != QLatin1String(source) && text.contains(QRegularExpression(u"\\p{Han}"_s)),
                     qPrintable(text));
        }
    }

    // Only text is taken, whatever the clipboard holds or lacks.
    void pasteTakesOnlyText_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing owns the clipboard") << u"none"_s << u"x"_s;
        QTest::newRow("empty text") << u"empty"_s << u"x"_s;
        QTest::newRow("text with CR LF") << u"crlf"_s << u"x209001\r\n209002\r\n"_s;
        QTest::newRow("HTML only") << u"html"_s << u"x"_s;
        QTest::newRow("an image") << u"image"_s << u"x"_s;
        QTest::newRow("a file list") << u"files"_s << u"x"_s;
    }
    void pasteTakesOnlyText() {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        if (kind != u"none"_s) {
            auto* data = new QMimeData;
            if (kind == u"empty"_s)
                data->setText(QString());
            else if (kind == u"crlf"_s)
                data->setText(u"209001\r\n209002\r\n"_s);
            else if (kind == u"html"_s)
                data->setHtml(u"<b>209003</b>"_s);
            else if (kind == u"image"_s)
                data->setImageData(QImage(4, 4, QImage::Format_RGB32));
            else
                data->setUrls({QUrl::fromLocalFile(u"/tmp/accounts.txt"_s)});
            clipboard->setMimeData(data);
        }
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        c.TxtZh->setFocus();
        QTest::keyClicks(c.TxtZh, u"x"_s);
        QTest::keySequence(c.TxtZh, QKeySequence::Paste);
        QCOMPARE(w.accountText(), expected);
        // A drop is the same door.
        auto* html = new QMimeData;
        html->setHtml(u"<i>x</i>"_s);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, html, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(c.TxtZh->viewport(), &drop);
        QCOMPARE(w.accountText(), expected);
        delete html;
    }

    void tabMovesTheFocusOn() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        c.TxtZh->setFocus();
        QTest::keyClicks(c.TxtZh, u"209"_s);
        QTest::keyClick(c.TxtZh, Qt::Key_Tab);
        QCOMPARE(w.accountText(), u"209"_s);
        QCOMPARE(w.focusWidget(), c.COBNUM);
        QTest::keyClick(c.COBNUM, Qt::Key_Backtab);
        QCOMPARE(w.focusWidget(), c.TxtZh);
    }

    // Failed rows in red with the reason; receive readings outside the INI's windows coloured.
    void failedRowsAndWeakReadingsAreMarked() {
        QTemporaryDir folder;
        QFile ini(QDir(folder.path()).filePath(u"vesmora.ini"_s));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Thresholds]\r\nOntRxMin=-100\r\nOntRxMax=-99\r\nOltRxMin=-100\r\nOltRxMax=100\r\n");
        ini.close();
        setProgramFolderOverride(folder.path());
        FrmMain w(&m_cookie);
        setProgramFolderOverride(QString());
        QCOMPARE(Thresholds::iniPath(), Lj() + u"vesmora.ini"_s);
        const Controls c(w);
        w.show();
        c.TxtZh->setPlainText(u"20900000031\nres-500\n20900000032"_s);
        QSignalSpy finished(w.run(), &QueryRun::finished);
        c.CmdStart->click();
        QVERIFY(!c.mnuRetry->isEnabled());
        QVERIFY(finished.wait(20000));

        net::Result serverError;
        serverError.status = 500;
        const ListRow failed = c.item(1);
        for (int column = 0; column < 11; ++column) {
            QCOMPARE(failed.foreground(column).color(), QColor::fromRgb(QRgb(marks::kFailedText)));
            QCOMPARE(failed.toolTip(column), describeHttp(serverError));
        }
        for (const int row : {0, 2}) {
            const ListRow item = c.item(row);
            QVERIFY(item.toolTip(0).isEmpty());
            QCOMPARE(item.background(QueryRun::OnuAccept).color(), QColor::fromRgb(QRgb(marks::kWeakFill)));
            QCOMPARE(item.background(QueryRun::OltAccept).style(), Qt::NoBrush);
            QCOMPARE(item.background(QueryRun::OnuSend).style(), Qt::NoBrush);
        }

        // Retry asks again for the failed row only.
        QVERIFY(c.mnuRetry->isEnabled());
        const auto asked = [this] {
            return m_server->requests(u"/ehmsexp/rest/install/queryRmwResouceInfo"_s).size();
        };
        const qsizetype before = asked();
        c.mnuRetry->trigger();
        QVERIFY(finished.wait(20000));
        QCOMPARE(asked(), before + 1);
        QCOMPARE(c.item(1).toolTip(0), describeHttp(serverError));
    }

    // The summary, opened from the list's context menu before the run, follows it; a port
    // double-clicked there is selected in the list.
    void ponSummarySelectsAPortsRows() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        const QList<QAction*> menu = c.LstV->actions();
        const auto entry = std::find_if(menu.cbegin(), menu.cend(),
                                        [](const QAction* a) { return a->objectName() == u"mnuHistory"_s; });
        QVERIFY(entry != menu.cend() && entry + 1 != menu.cend());
        QCOMPARE((*(entry + 1))->text(), u"PON口汇总"_s);
        (*(entry + 1))->trigger();
        QWidget* window = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->isVisible() && top->windowTitle() == u"PON口汇总"_s)
                window = top;
        }
        QVERIFY(window);
        auto* table = window->findChild<QTableWidget*>(u"ponTable"_s);
        QCOMPARE(table->rowCount(), 0);

        c.TxtZh->setPlainText(u"pon-12-A-1-weak\npon-78-A-1-weak\npon-12-B-1-weak\npon-78-A-2-weak\n"
                              u"pon-12-B-2\npon-78-A-3-weak"_s);
        QSignalSpy finished(w.run(), &QueryRun::finished);
        c.CmdStart->click();
        QVERIFY(finished.wait(20000));
        QTRY_COMPARE(table->rowCount(), 2);
        const auto cells = [table](int row) {
            QStringList texts;
            for (int column = 0; column < table->columnCount(); ++column)
                texts << table->item(row, column)->text();
            return texts;
        };
        QCOMPARE(cells(0), (QStringList{u"10.99.0.78"_s, u"0/1/78"_s, u"3"_s, u"3"_s, u"0"_s,
                                        u"疑似分光器故障：测试小区78号分光器A"_s}));
        QCOMPARE(cells(1),
                 (QStringList{u"10.99.0.12"_s, u"0/1/12"_s, u"3"_s, u"2"_s, u"0"_s, u"疑似主干光路故障"_s}));
        QCOMPARE(table->item(0, 5)->toolTip(), u"测试小区78号分光器A：3/3 弱光"_s);
        QCOMPARE(table->item(1, 5)->toolTip(),
                 u"测试小区12号分光器A：1/1 弱光\n测试小区12号分光器B：1/2 弱光"_s);

        const QRect port = table->visualItemRect(table->item(0, 1));
        // The view takes a double-click only on the cell pressed before it.
        QTest::mousePress(table->viewport(), Qt::LeftButton, {}, port.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, port.center());
        QList<int> selected;
        for (const QModelIndex& index : c.LstV->selectionModel()->selectedRows())
            selected << index.row();
        std::sort(selected.begin(), selected.end());
        QCOMPARE(selected, (QList<int>{1, 3, 5}));
        QCOMPARE(c.LstV->currentIndex().row(), 1);
        QVERIFY(c.LstV->viewport()->rect().intersects(c.LstV->visualRect(c.LstV->currentIndex())));
    }

    // Stop after 3 of 8 rows: the other 5 say "未查询" in grey with the reason; the first entry of
    // the context menu runs them and the failed row again, nothing else.
    void unreachedRowsCanBeFinished() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QStringList accounts{u"20900000071"_s, u"res-500"_s, u"20900000072"_s};
        for (int i = 3; i <= 7; ++i)
            accounts << u"2090000007%1"_s.arg(i);
        c.TxtZh->setPlainText(accounts.join(u'\n'));
        QSignalSpy finished(w.run(), &QueryRun::finished);
        connect(w.run(), &QueryRun::rowDone, c.CmdStop, [&](int, int done) {
            if (done == 3)
                c.CmdStop->click();
        });
        c.CmdStart->click();
        QVERIFY(finished.wait(20000));
        QCOMPARE(m_messages.last(), u"已停止查询!"_s);
        QCOMPARE(c.Prg->text(), u"完成 2，失败 1，未查询 5"_s);
        for (int row = 3; row < 8; ++row) {
            const ListRow item = c.item(row);
            QCOMPARE(item.text(QueryRun::Result), u"未查询"_s);
            QCOMPARE(item.foreground(0).color(), QColor(0x80, 0x80, 0x80));
            QCOMPARE(item.toolTip(0), u"未查询：查询已停止，未轮到此帐号"_s);
        }
        // The workbook's notes say why, as the list's tips do.
        const QString book = m_settings.filePath(u"stopped.xlsx"_s);
        dialogs::setSaveHandler([&book](const dialogs::SaveRequest&) { return book; });
        c.CmdSave->click();
        dialogs::setSaveHandler({});
        const QJsonArray notes = readXlsxBack(book)[u"comments"_s].toArray();
        QCOMPARE(notes.size(), 9);
        QCOMPARE(notes.at(2).toString(), u"服务器返回状态 500"_s);
        QCOMPARE(notes.at(4).toString(), u"未查询：查询已停止，未轮到此帐号"_s);
        QCOMPARE(notes.at(8).toString(), u"未查询：查询已停止，未轮到此帐号"_s);
        QCOMPARE(c.LstV->actions().first(), c.mnuRetry);
        QCOMPARE(c.mnuRetry->text(), u"重新查询失败和未查询的行"_s);
        QVERIFY(c.mnuRetry->isEnabled());

        disconnect(w.run(), &QueryRun::rowDone, c.CmdStop, nullptr);
        const QString resource = u"/ehmsexp/rest/install/queryRmwResouceInfo"_s;
        const qsizetype before = m_server->requests(resource).size();
        c.mnuRetry->trigger();
        QVERIFY(finished.wait(20000));
        QStringList asked;
        for (const QJsonObject& request : m_server->requests(resource).mid(before))
            asked << request[u"body"_s].toString();
        QCOMPARE(asked,
                 (QStringList{u"no209=res-500"_s, u"no209=20900000073"_s, u"no209=20900000074"_s,
                              u"no209=20900000075"_s, u"no209=20900000076"_s, u"no209=20900000077"_s}));
        QCOMPARE(c.Prg->text(), u"完成 7，失败 1，未查询 0"_s);
        QVERIFY(!c.item(7).text(QueryRun::OnuAccept).isEmpty());
        QVERIFY(c.item(7).toolTip(0).isEmpty());
    }

    // A resumed run shows the saved rows as they were and asks only the others, at the saved rate.
    void resumedRunShowsTheSavedRows() {
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        QList<QueryRun::SavedRow> saved(2);
        saved[0].cells[QueryRun::Account] = u"20900000061"_s;
        saved[0].cells[QueryRun::Ems] = u"广州天河EMS"_s;
        saved[0].finished = true;
        saved[0].failure = u"HTTP 500"_s;
        saved[1].cells[QueryRun::Account] = u"20900000062"_s;
        QSignalSpy finished(w.run(), &QueryRun::finished);
        QVERIFY(w.continueSavedRows(saved, 45));
        QCOMPARE(c.COBNUM->currentText(), u"45"_s);
        QCOMPARE(c.Prg->maximum(), 2);
        const ListRow failed = c.item(0);
        QCOMPARE(failed.text(QueryRun::Ems), u"广州天河EMS"_s);
        QCOMPARE(failed.foreground(0).color(), QColor::fromRgb(QRgb(marks::kFailedText)));
        QCOMPARE(failed.toolTip(0), u"HTTP 500"_s);
        QVERIFY(finished.wait(20000));
        QVERIFY(!c.item(1).text(QueryRun::OnuAccept).isEmpty());
        for (const QJsonObject& request : m_server->requests(u"/ehmsexp/rest/install/queryRmwResouceInfo"_s))
            QVERIFY(!request[u"body"_s].toString().contains(u"20900000061"_s));
    }

    // Three rows without a reply: the run holds and asks; Yes goes on, No or Stop ends it.
    void threeFailuresAsk_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("message");
        QTest::newRow("yes") << u"yes"_s << QueryRun::finishedMessage();
        QTest::newRow("no") << u"no"_s << QueryRun::stoppedMessage();
        QTest::newRow("stop while asked") << u"stop"_s << QueryRun::stoppedMessage();
    }
    void threeFailuresAsk() {
        QFETCH(QString, answer);
        QFETCH(QString, message);
        QList<dialogs::MessageRequest> asked;
        dialogs::Answer reply;
        dialogs::setAskHandler([&](const dialogs::MessageRequest& request, dialogs::Answer a) {
            asked << request;
            reply = std::move(a);
        });
        FrmMain w(&m_cookie);
        const Controls c(w);
        w.show();
        c.TxtZh->setPlainText(u"res-empty\nres-notjson\nres-500\n20900000041"_s);
        QSignalSpy finished(w.run(), &QueryRun::finished);
        c.CmdStart->click();
        QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, 20000);
        QCOMPARE(asked[0].text, QueryRun::failureStreakQuestion());
        QCOMPARE(asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(c.Prg->text(), u"3/4"_s);
        QVERIFY(c.CmdStop->isEnabled());
        if (answer == u"stop"_s)
            QTest::mouseClick(c.CmdStop, Qt::LeftButton);
        else
            reply(answer == u"yes"_s ? QMessageBox::Yes : QMessageBox::No);
        QVERIFY(finished.wait(20000));
        dialogs::setAskHandler({});
        QCOMPARE(finished.first().at(0).toString(), message);
        QCOMPARE(m_messages.last(), message);
        QCOMPARE(c.item(3).text(QueryRun::Result) == u"未查询"_s, answer != u"yes"_s);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
