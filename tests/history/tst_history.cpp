#include "query/DropRule.h"
#include "query/Thresholds.h"
#include "query/ui/HistoryChart.h"
#include "query/ui/HistoryWindow.h"

#include <QFile>
#include <QImage>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

journal::Reading reading(const QDateTime& time, const QString& ontRx, const QString& oltRx) {
    return {u"20912345678"_s, time, {ontRx, u"2.10"_s, oltRx, u"3.00"_s}};
}

const QDateTime kPrevious(QDate(2026, 11, 2), QTime(10, 0));

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void dropRule_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("now");
        QTest::addColumn<double>("dropDb");
        QTest::addColumn<QString>("tooltip");
        QTest::addColumn<QString>("takenBy");
        // The previous reading: ONT receive -19.80, ONT send 2.10, OLT receive -20.00, OLT send 3.00.
        QTest::newRow("ONT receive fell exactly 3 dB")
            << 2 << u"-22.80"_s << 3.0 << u"上次 -19.80 (2026-11-02)"_s << QString();
        QTest::newRow("ONT receive fell 2.99 dB") << 2 << u"-22.79"_s << 3.0 << QString() << QString();
        QTest::newRow("OLT receive fell 3 dB, one decimal")
            << 4 << u"-23.0"_s << 3.0 << u"上次 -20.00 (2026-11-02)"_s << QString();
        QTest::newRow("OLT send fell 3.5 dB")
            << 5 << u"-0.5"_s << 3.0 << u"上次 3.00 (2026-11-02)"_s << QString();
        QTest::newRow("rose by 5 dB") << 2 << u"-14.80"_s << 3.0 << QString() << QString();
        QTest::newRow("higher threshold") << 2 << u"-22.80"_s << 5.0 << QString() << QString();
        QTest::newRow("not a number now") << 2 << u"--"_s << 3.0 << QString() << QString();
        QTest::newRow("a colleague's reading")
            << 2 << u"-22.80"_s << 3.0 << u"上次 -19.80 (2026-11-02) 查询人 张三"_s << u"张三"_s;
        QTest::newRow("not a power column") << 6 << u"-99"_s << 3.0 << QString() << QString();
    }
    void dropRule() {
        QFETCH(int, column);
        QFETCH(QString, now);
        QFETCH(double, dropDb);
        QFETCH(QString, tooltip);
        QFETCH(QString, takenBy);
        journal::Reading previous = reading(kPrevious, u"-19.80"_s, u"-20"_s);
        previous.takenBy = takenBy;
        const auto mark = dropTooltip(column, now, previous, dropDb);
        QCOMPARE(mark.value_or(QString()), tooltip);
    }

    void dropThresholdFromIni_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<double>("dropDb");
        QTest::newRow("missing") << QByteArray("[Thresholds]\r\nOntRxMin=-26\r\n") << 3.0;
        QTest::newRow("set") << QByteArray("[Thresholds]\r\nDropDb=4.5\r\n") << 4.5;
        QTest::newRow("not a number") << QByteArray("[Thresholds]\r\nDropDb=abc\r\n") << 3.0;
        QTest::newRow("negative") << QByteArray("[Thresholds]\r\nDropDb=-2\r\n") << 3.0;
    }
    void dropThresholdFromIni() {
        QFETCH(QByteArray, ini);
        QFETCH(double, dropDb);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"vesmora.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
        file.close();
        QCOMPARE(Thresholds::fromIni(file.fileName()).dropDb, dropDb);
    }

    // Two readings of the same value: on the chart only within +-100 dB; the rest, absurd or no
    // number, neither hang nor break the drawing.
    void chartTakesOnlyPlausibleReadings_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("plotted");
        QTest::newRow("-100 dB") << u"-100"_s << 2;
        QTest::newRow("-100.01 dB") << u"-100.01"_s << 0;
        QTest::newRow("100 dB") << u"100"_s << 2;
        QTest::newRow("100.01 dB") << u"100.01"_s << 0;
        QTest::newRow("1e16") << u"1e16"_s << 0;
        QTest::newRow("-1e300") << u"-1e300"_s << 0;
        QTest::newRow("nan") << u"nan"_s << 0;
        QTest::newRow("inf") << u"inf"_s << 0;
    }
    void chartTakesOnlyPlausibleReadings() {
        QFETCH(QString, value);
        QFETCH(int, plotted);
        HistoryChart chart;
        chart.resize(chart.sizeHint());
        chart.setReadings({reading(kPrevious, value, value), reading(kPrevious.addDays(1), value, value)});
        QCOMPARE(chart.plottedCount(0), plotted);
        QCOMPARE(chart.plottedCount(1), plotted);
        QVERIFY(!chart.grab().isNull());
    }

    void windowShowsReadingsNewestFirst() {
        const QList<journal::Reading> readings{reading(kPrevious.addDays(-30), u"-18.00"_s, u"-19.00"_s),
                                               reading(kPrevious.addDays(7), u"-23.40"_s, u"--"_s),
                                               reading(kPrevious, u"-19.80"_s, u"-20.00"_s)};
        HistoryWindow window(u"20912345678"_s, readings);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(window.windowTitle(), u"历史读数 - 20912345678"_s);
        auto* table = window.findChild<QTableWidget*>(u"historyTable"_s);
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(0, 0)->text(), u"2026-11-09 10:00:00"_s);
        QCOMPARE(table->item(0, 1)->text(), u"-23.40"_s);
        QCOMPARE(table->item(0, 3)->text(), u"--"_s);
        QCOMPARE(table->item(2, 0)->text(), u"2026-10-03 10:00:00"_s);

        // The chart draws both lines: each colour shows up in the picture.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage picture = window.findChild<HistoryChart*>(u"historyChart"_s)->grab().toImage();
        int blue = 0, orange = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb pixel = picture.pixel(x, y);
                blue += pixel == qRgb(0x1f, 0x77, 0xb4);
                orange += pixel == qRgb(0xe6, 0x73, 0x00);
            }
        QVERIFY(blue > 50);
        QVERIFY(orange > 50);
    }
};

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
