#include "common/JsonReader.h"

#include <QTest>

class TestJsonReader : public QObject {
    Q_OBJECT

private slots:
    void rejectsAnythingButAnObject_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks") << QStringLiteral("  \r\n ");
        QTest::newRow("array") << QStringLiteral("[1,2]");
        QTest::newRow("string") << QStringLiteral("\"x\"");
        QTest::newRow("number") << QStringLiteral("3");
        QTest::newRow("html") << QStringLiteral("<html><body>500</body></html>");
        QTest::newRow("truncated") << QStringLiteral("{\"rmw_test_desc\":\"ok\",\"rmw_ems\":");
        QTest::newRow("script literal") << QStringLiteral("{a:'1'}");
        QTest::newRow("code") << QStringLiteral("(function(){return {}})()");
    }
    void rejectsAnythingButAnObject() {
        QFETCH(QString, text);
        QVERIFY(!ParseJson(text).has_value());
    }

    void surroundingWhiteSpaceIsFine() {
        const auto reply = ParseJson(QStringLiteral(" \r\n\t{\"a\":\"b\"}\r\n "));
        QVERIFY(reply.has_value());
        QCOMPARE(reply->text(QStringLiteral("a")).value_or(QString()), QStringLiteral("b"));
    }

    void memberText_data() {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("expected");
        QTest::newRow("string") << QStringLiteral("\"光猫在线\"") << QStringLiteral("光猫在线");
        QTest::newRow("empty string") << QStringLiteral("\"\"") << QString();
        QTest::newRow("negative decimal") << QStringLiteral("-21.5") << QStringLiteral("-21.5");
        QTest::newRow("reading") << QStringLiteral("-21.53") << QStringLiteral("-21.53");
        QTest::newRow("integer") << QStringLiteral("3") << QStringLiteral("3");
        QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("0");
        QTest::newRow("fifteen digits")
            << QStringLiteral("0.1234567890123456789") << QStringLiteral("0.123456789012346");
        QTest::newRow("large integer") << QStringLiteral("20912345678") << QStringLiteral("20912345678");
        QTest::newRow("1e15 plain") << QStringLiteral("1e15") << QStringLiteral("1000000000000000");
        QTest::newRow("15 digits whole")
            << QStringLiteral("123456789012345") << QStringLiteral("123456789012345");
        QTest::newRow("16 digits rounded")
            << QStringLiteral("1234567890123456") << QStringLiteral("1234567890123460");
        QTest::newRow("20 digits rounded")
            << QStringLiteral("-12345678901234567890") << QStringLiteral("-12345678901234600000");
        QTest::newRow("1e-6 plain") << QStringLiteral("0.000001") << QStringLiteral("0.000001");
        QTest::newRow("under 1e-6") << QStringLiteral("-0.00000015") << QStringLiteral("-1.5e-7");
        QTest::newRow("under 1e21 plain")
            << QStringLiteral("999999999999999e6") << QStringLiteral("999999999999999000000");
        QTest::newRow("1e21") << QStringLiteral("1e21") << QStringLiteral("1e+21");
        QTest::newRow("array") << QStringLiteral("[\"a\",\"b\"]") << QStringLiteral("a,b");
        QTest::newRow("mixed array") << QStringLiteral("[1,\"x\",-2.5]") << QStringLiteral("1,x,-2.5");
        QTest::newRow("bool") << QStringLiteral("true") << QStringLiteral("true");
    }
    void memberText() {
        QFETCH(QString, json);
        QFETCH(QString, expected);
        const auto reply = ParseJson(QStringLiteral("{\"m\":%1}").arg(json));
        QVERIFY(reply.has_value());
        const auto text = reply->text(QStringLiteral("m"));
        QVERIFY(text.has_value());
        QCOMPARE(*text, expected);
    }

    void missingAndNullMembersCannotBeRead() {
        const auto reply = ParseJson(QStringLiteral("{\"olt_send\":null,\"test_desc\":\"\"}"));
        QVERIFY(reply.has_value());
        QVERIFY(reply->has(QStringLiteral("olt_send")));
        QVERIFY(reply->isNull(QStringLiteral("olt_send")));
        QVERIFY(!reply->text(QStringLiteral("olt_send")).has_value());

        QVERIFY(!reply->has(QStringLiteral("onu_send")));
        QVERIFY(!reply->isNull(QStringLiteral("onu_send")));
        QVERIFY(!reply->text(QStringLiteral("onu_send")).has_value());

        // Present and empty is a value, unlike missing.
        QVERIFY(reply->text(QStringLiteral("test_desc")).has_value());
        QVERIFY(!reply->isNull(QStringLiteral("test_desc")));
    }

    void namesMatchExactly() {
        const auto reply = ParseJson(QStringLiteral("{\"Status\":\"error\"}"));
        QVERIFY(reply.has_value());
        QVERIFY(!reply->text(QStringLiteral("status")).has_value());
    }
};

QTEST_GUILESS_MAIN(TestJsonReader)
#include "tst_json_reader.moc"
