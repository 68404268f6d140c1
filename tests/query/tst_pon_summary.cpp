#include "query/PonSummary.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "ip|pon|splitter|kind*count": count rows of one kind. ok and drop read -20 dB at both ends, weak
// reads -30 dB at the ONT; drop is marked as a drop; failed reads -30 dB but is not done.
void addLines(PonSummary& summary, const QStringList& groups) {
    int row = 0;
    for (const QString& group : groups) {
        const QStringList parts = group.split(u'|');
        const QStringList kind = parts[3].split(u'*');
        ResultRowLayout::Row cells;
        cells[ResultRowLayout::OltIp] = parts[0];
        cells[ResultRowLayout::OltPon] = parts[1];
        cells[ResultRowLayout::SplitterName] = parts[2];
        const bool weak = kind[0] == u"weak"_s || kind[0] == u"failed"_s;
        cells[ResultRowLayout::OnuAccept] = weak ? u"-30"_s : u"-20"_s;
        cells[ResultRowLayout::OltAccept] = u"-20"_s;
        const PonSummary::Marks marks{kind[0] != u"failed"_s, kind[0] == u"drop"_s};
        for (int i = 0; i < kind.value(1, u"1"_s).toInt(); ++i)
            summary.add(row++, cells, marks);
    }
}

} // namespace

class TestPonSummary : public QObject {
    Q_OBJECT

private slots:
    void rules_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("ports");    // "ip|pon|帐号数|弱光数|下降数|判断", in order
        QTest::addColumn<QString>("firstDetails"); // the tooltip of the first port's 判断

        const QByteArray none;
        QTest::newRow("2 lines under a splitter, both weak")
            << none << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*2"_s}
            << QStringList{u"10.0.0.1|0/1/1|2|2|0|"_s} << u"分光器A：2/2 弱光"_s;
        QTest::newRow("3 lines under a splitter, all weak")
            << none << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*3"_s}
            << QStringList{u"10.0.0.1|0/1/1|3|3|0|疑似分光器故障：分光器A"_s} << u"分光器A：3/3 弱光"_s;
        QTest::newRow("60 % bad") << none
                                  << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*3"_s,
                                                 u"10.0.0.1|0/1/1|分光器A|ok*2"_s}
                                  << QStringList{u"10.0.0.1|0/1/1|5|3|0|疑似分光器故障：分光器A"_s}
                                  << u"分光器A：3/5 弱光"_s;
        QTest::newRow("59 % bad") << none
                                  << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*59"_s,
                                                 u"10.0.0.1|0/1/1|分光器A|ok*41"_s}
                                  << QStringList{u"10.0.0.1|0/1/1|100|59|0|"_s} << u"分光器A：59/100 弱光"_s;
        QTest::newRow("bad under two splitters: the trunk, not the splitter")
            << none
            << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*3"_s, u"10.0.0.1|0/1/1|分光器B|weak"_s,
                           u"10.0.0.1|0/1/1|分光器B|ok"_s}
            << QStringList{u"10.0.0.1|0/1/1|5|4|0|疑似主干光路故障"_s}
            << u"分光器A：3/3 弱光\n分光器B：1/2 弱光"_s;
        QTest::newRow("bad under two splitters, port below the share")
            << none
            << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*3"_s, u"10.0.0.1|0/1/1|分光器B|weak"_s,
                           u"10.0.0.1|0/1/1|分光器B|ok*4"_s}
            << QStringList{u"10.0.0.1|0/1/1|8|4|0|疑似分光器故障：分光器A"_s}
            << u"分光器A：3/3 弱光\n分光器B：1/5 弱光"_s;
        QTest::newRow("drops without a weak reading")
            << none << QStringList{u"10.0.0.1|0/1/1|分光器A|drop*3"_s}
            << QStringList{u"10.0.0.1|0/1/1|3|0|3|疑似分光器故障：分光器A"_s}
            << u"分光器A：0/3 弱光，3/3 下降"_s;
        QTest::newRow("empty PON or IP cells form no port")
            << none << QStringList{u"10.0.0.1||分光器A|weak*3"_s, u" |0/1/1|分光器A|weak*3"_s}
            << QStringList{} << QString();
        QTest::newRow("failed rows are not counted")
            << none << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*2"_s, u"10.0.0.1|0/1/1|分光器A|failed"_s}
            << QStringList{u"10.0.0.1|0/1/1|2|2|0|"_s} << u"分光器A：2/2 弱光"_s;
        QTest::newRow("verdicts first, then by bad lines")
            << none
            << QStringList{u"10.0.0.1|0/1/1|分光器A|weak"_s, u"10.0.0.1|0/1/1|分光器A|ok*4"_s,
                           u"10.0.0.2|0/1/1|分光器C|weak*2"_s, u"10.0.0.3|0/2/7|分光器D|weak*3"_s}
            << QStringList{u"10.0.0.3|0/2/7|3|3|0|疑似分光器故障：分光器D"_s, u"10.0.0.2|0/1/1|2|2|0|"_s,
                           u"10.0.0.1|0/1/1|5|1|0|"_s}
            << u"分光器D：3/3 弱光"_s;
        QTest::newRow("settings from the INI file")
            << QByteArray("[Faults]\r\nMinLines=2\r\nBadShare=100\r\n")
            << QStringList{u"10.0.0.1|0/1/1|分光器A|weak*2"_s, u"10.0.0.2|0/1/1|分光器A|weak*2"_s,
                           u"10.0.0.2|0/1/1|分光器A|ok"_s}
            << QStringList{u"10.0.0.1|0/1/1|2|2|0|疑似分光器故障：分光器A"_s, u"10.0.0.2|0/1/1|3|2|0|"_s}
            << u"分光器A：2/2 弱光"_s;
        // Taken as they stand, MinLines=1 would name the first splitter, BadShare=0 the second.
        QTest::newRow("unusable settings keep the defaults")
            << QByteArray("[Faults]\r\nMinLines=1\r\nBadShare=0\r\n")
            << QStringList{u"10.0.0.1|0/1/1|分光器A|weak"_s, u"10.0.0.2|0/1/1|分光器B|weak"_s,
                           u"10.0.0.2|0/1/1|分光器B|ok*2"_s}
            << QStringList{u"10.0.0.1|0/1/1|1|1|0|"_s, u"10.0.0.2|0/1/1|3|1|0|"_s} << u"分光器A：1/1 弱光"_s;
    }
    void rules() {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, ports);
        QFETCH(QString, firstDetails);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"vesmora.ini"_s);
        if (!ini.isNull())
            QVERIFY(writeFile(path, ini));
        PonSummary summary(Thresholds{}, FaultRules::fromIni(path));
        addLines(summary, lines);
        const QList<PonPort> result = summary.ports();
        QStringList shown;
        for (const PonPort& port : result)
            shown << PonSummary::texts(port).join(u'|');
        QCOMPARE(shown, ports);
        QCOMPARE(result.isEmpty() ? QString() : PonSummary::details(result.first()), firstDetails);
    }
};

QTEST_GUILESS_MAIN(TestPonSummary)
#include "tst_pon_summary.moc"
