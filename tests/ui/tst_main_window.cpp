#include "common/ui/Dialogs.h"
#include "query/CookieSource.h"
#include "query/QueryRun.h"
#include "query/ui/FrmMain.h"
#include "support/StandinServer.h"

#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

namespace {

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
    FixedCookie m_cookie;
    QStringList m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;

private slots:
    void initTestCase() {
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
        m_messages.clear();
        m_answer = QMessageBox::Ok;
    }

    void afterLoad() {
        FrmMain w(&m_cookie);
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("Vesmora V2.1.0"));
        QCOMPARE(w.size(), QSize(774, 541));
        QCOMPARE(w.COBNUM->count(), 19);
        QCOMPARE(w.COBNUM->itemText(0), QStringLiteral("10"));
        QCOMPARE(w.COBNUM->itemText(18), QStringLiteral("200"));
        QCOMPARE(w.COBNUM->currentText(), QStringLiteral("30"));
        QVERIFY(!w.CmdStop->isEnabled());
        QVERIFY(w.CmdStart->isEnabled());
        QVERIFY(w.CmdSave->isEnabled());
        QVERIFY(w.Frame1->isHidden());
        QCOMPARE(w.Prg->value(), 0);
        QCOMPARE(w.LstV->topLevelItemCount(), 0);
        QCOMPARE(w.headerTexts(),
                 (QStringList{QStringLiteral("209帐号"), QStringLiteral("结果"),
                              QStringLiteral("光猫接收光功率(dB)"), QStringLiteral("光猫发送光功率(dB)"),
                              QStringLiteral("OLT接收光功率(dB)"), QStringLiteral("OLT发送光功率(dB)"),
                              QStringLiteral("所属EMS"), QStringLiteral("OLT IP"), QStringLiteral("OLT PON"),
                              QStringLiteral("激活LOID"), QStringLiteral("分光器名称")}));
        const int widths[] = {96, 147, 80, 80, 80, 80, 133, 80, 96, 96, 229};
        for (int i = 0; i < 11; ++i)
            QCOMPARE(w.LstV->columnWidth(i), widths[i]);
        QCOMPARE(w.CmdStart->text(), QStringLiteral("开始查询(&R)"));
        QCOMPARE(w.CmdStop->text(), QStringLiteral("停止(&T)"));
        QCOMPARE(w.CmdSave->text(), QStringLiteral("导出结果(&S)"));

        const QList<QWidget*> expected{w.CmdSave, w.CmdStart, w.LstV, w.TxtZh, w.COBNUM};
        QCOMPARE(tabChain(&w, w.CmdSave).mid(0, 5), expected);
        // CmdStop follows COBNUM in the chain once it is enabled.
        w.CmdStop->setEnabled(true);
        QCOMPARE(tabChain(&w, w.CmdSave).mid(0, 6), expected + QList<QWidget*>{w.CmdStop});
    }

    void lineBreaksOfEveryKindEndALine() {
        FrmMain w(&m_cookie);
        w.TxtZh->setPlainText(QStringLiteral("a\nb"));
        QCOMPARE(w.accountText(), QStringLiteral("a\r\nb"));
        w.TxtZh->clear();
        w.TxtZh->insertPlainText(QStringLiteral("a\r\nb\rc\n"));
        QCOMPARE(QueryRun::splitAccounts(w.accountText()),
                 (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        w.TxtZh->clear();
        QTest::keyClicks(w.TxtZh, QStringLiteral("20900000001"));
        QTest::keyClick(w.TxtZh, Qt::Key_Return);
        QTest::keyClicks(w.TxtZh, QStringLiteral("20900000002"));
        QCOMPARE(w.accountText(), QStringLiteral("20900000001\r\n20900000002"));
    }

    void emptyTextShowsTheMessage() {
        FrmMain w(&m_cookie);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.CmdStart->click();
        QCOMPARE(m_messages, QStringList{QStringLiteral("请先输入要查询的209帐号，一行一个!")});
        QCOMPARE(QApplication::focusWidget(), w.TxtZh);
        QVERIFY(w.CmdStart->isEnabled());
    }

    void wholeRunFillsTheList() {
        FrmMain w(&m_cookie);
        w.show();
        QTest::keyClicks(w.TxtZh, QStringLiteral("20900000001"));
        QTest::keyClick(w.TxtZh, Qt::Key_Return);
        QTest::keyClick(w.TxtZh, Qt::Key_Return);
        QTest::keyClicks(w.TxtZh, QStringLiteral("20900000002"));
        QTest::keyClick(w.TxtZh, Qt::Key_Return);
        QSignalSpy finished(w.run(), &QueryRun::finished);
        QTest::mouseClick(w.CmdStart, Qt::LeftButton);
        QCOMPARE(w.LstV->topLevelItemCount(), 2);
        QVERIFY(!w.CmdStart->isEnabled());
        QVERIFY(!w.COBNUM->isEnabled());
        QVERIFY(!w.LstV->isEnabled());
        QVERIFY(w.CmdStop->isEnabled());
        QVERIFY(w.CmdSave->isEnabled());
        QVERIFY(w.TxtZh->isEnabled());
        QCOMPARE(w.Prg->maximum(), 2);

        QVERIFY(finished.wait(20000));
        QCOMPARE(m_messages, QStringList{QStringLiteral("查询结束!")});
        QVERIFY(w.CmdStart->isEnabled());
        QVERIFY(!w.CmdStop->isEnabled());
        QVERIFY(w.COBNUM->isEnabled());
        QVERIFY(w.LstV->isEnabled());
        QCOMPARE(w.Prg->value(), 0);
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
        w.show();
        w.COBNUM->setCurrentIndex(0); // 10 a minute
        QStringList accounts;
        for (int i = 1; i <= 12; ++i)
            accounts << QStringLiteral("209000001%1").arg(i, 2, 10, QLatin1Char('0'));
        w.TxtZh->setPlainText(accounts.join(QLatin1Char('\n')));
        QSignalSpy finished(w.run(), &QueryRun::finished);
        w.CmdStart->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.Frame1->isVisible(), 20000);
        QVERIFY(w.LabTip->text().startsWith(QStringLiteral("限速暂停中(")));
        QVERIFY(w.LabTip->text().endsWith(QStringLiteral("S）……")));
        QCOMPARE(w.Prg->value(), 10);

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
        QTest::mouseClick(w.CmdStop, Qt::LeftButton);
        QVERIFY(!w.CmdStop->isEnabled());
        QVERIFY(finished.wait(5000));
        QCOMPARE(m_messages, QStringList{QStringLiteral("已停止查询!")});
        QVERIFY(w.Frame1->isHidden());
        QCOMPARE(w.LstV->topLevelItemCount(), 12);
        QVERIFY(w.LstV->topLevelItem(11)->text(1).isEmpty());
    }

    void closingWithYesEndsTheProgramDuringARun() {
        FrmMain w(&m_cookie);
        w.show();
        w.COBNUM->setCurrentIndex(0);
        QStringList accounts;
        for (int i = 1; i <= 11; ++i)
            accounts << QStringLiteral("209000002%1").arg(i, 2, 10, QLatin1Char('0'));
        w.TxtZh->setPlainText(accounts.join(QLatin1Char('\n')));
        w.CmdStart->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.Frame1->isVisible(), 20000);
        m_answer = QMessageBox::Yes;
        QSignalSpy end(&w, &FrmMain::programEndRequested);
        QVERIFY(w.close());
        QCOMPARE(end.size(), 1);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
