#include "common/ErrorText.h"
#include "common/ui/Dialogs.h"
#include "query/XlsxExport.h"
#include "query/ui/ExportFlow.h"
#include "support/XlsxReadBack.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QStringList kHeaders =
    u"209帐号|结果|光猫接收光功率(dB)|光猫发送光功率(dB)|OLT接收光功率(dB)|OLT发送光功率(dB)|所属EMS|OLT IP|OLT PON|激活LOID|分光器名称"_s
        .split(QLatin1Char('|'));

QList<QStringList> listRows(int count, int columns = 11) {
    QList<QStringList> rows;
    for (int i = 0; i < count; ++i)
        rows << QStringList{u"2091%1"_s.arg(i, 7, 10, QLatin1Char('0')),
                            u"光猫在线"_s,
                            u"-21.53"_s,
                            u"2.1"_s,
                            u"-%1.5"_s.arg(20 + i % 7),
                            u"4"_s,
                            u"华为EMS-东区"_s,
                            u"10.12.%1.3"_s.arg(i % 250),
                            u"0/%1/3"_s.arg(i % 16),
                            u"00%1"_s.arg(i, 9, 10, QLatin1Char('0')),
                            u"幸福小区3栋-1:8分光器-%1"_s.arg(i)}
                    .mid(0, columns);
    return rows;
}

// A sheet row as the list showed it: numbers back to their shortest text.
QStringList texts(const QJsonValue& row) {
    QStringList out;
    for (const QJsonValue& cell : row.toArray())
        out << (cell[u"type"_s] == u"number"_s ? QString::number(cell[u"value"_s].toDouble())
                                               : cell[u"value"_s].toString());
    return out;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Names and contents of everything in a folder, to show that nothing changed or was left behind.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    const auto entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries)
        files.insert(entry.fileName(), entry.isDir() ? QByteArray("<dir>") : readFile(entry.filePath()));
    return files;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

    QScopedPointer<QTemporaryDir> m_dir;
    QJsonObject m_cellBook;
    QList<dialogs::MessageRequest> m_messages;
    QList<QMessageBox::StandardButton> m_answers;
    QList<dialogs::SaveRequest> m_saves;
    QString m_chosenName;
    QList<QString> m_opened;
    QString m_openError;

    QString path(const QString& name) const { return m_dir->filePath(name); }

private slots:
    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_messages.clear();
        m_answers.clear();
        m_saves.clear();
        m_opened.clear();
        m_chosenName.clear();
        m_openError.clear();
        dialogs::setMessageHandler([this](const dialogs::MessageRequest& request) {
            m_messages << request;
            return m_answers.isEmpty() ? QMessageBox::NoButton : m_answers.takeFirst();
        });
        dialogs::setSaveHandler([this](const dialogs::SaveRequest& request) {
            m_saves << request;
            return m_chosenName;
        });
        dialogs::setOpenFileHandler([this](const QString& path) {
            m_opened << path;
            return m_openError;
        });
    }
    void cleanup() {
        dialogs::setMessageHandler({});
        dialogs::setSaveHandler({});
        dialogs::setOpenFileHandler({});
    }

    void extensionRule_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no extension") << u"/d/report"_s << u"/d/report.xlsx"_s;
        QTest::newRow("lower case") << u"/d/a.xlsx"_s << u"/d/a.xlsx"_s;
        QTest::newRow("upper case") << u"/d/a.XLSX"_s << u"/d/a.XLSX"_s;
        QTest::newRow("mixed case") << u"/d/a.XlSx"_s << u"/d/a.XlSx"_s;
        QTest::newRow("old format") << u"/d/a.xls"_s << u"/d/a.xls.xlsx"_s;
        QTest::newRow("no dot") << u"/d/axlsx"_s << u"/d/axlsx.xlsx"_s;
        QTest::newRow("trailing blank") << u"/d/a.xlsx "_s << u"/d/a.xlsx .xlsx"_s;
        QTest::newRow("chinese") << u"/d/光功率"_s << u"/d/光功率.xlsx"_s;
    }
    void extensionRule() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(withXlsxExtension(name), expected);
    }

    void sheetLayout_data() {
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("folder");
        QTest::newRow("the list's eleven columns") << 1000 << 11 << QString();
        QTest::newRow("widths set whatever the column count") << 1 << 2 << QString();
        // Windows users' folders carry Chinese names; the library opens the file by its name.
        QTest::newRow("folder with a Chinese name") << 1 << 11 << u"我的文档"_s;
    }
    void sheetLayout() {
        QFETCH(int, rowCount);
        QFETCH(int, columns);
        QFETCH(QString, folder);
        const auto rows = listRows(rowCount, columns);
        QVERIFY(QDir(m_dir->path()).mkpath(folder.isEmpty() ? u"."_s : folder));
        const QString target = path(folder.isEmpty() ? u"导出.xlsx"_s : folder + u"/导出.xlsx"_s);
        const ExportResult result = writeXlsx(target, kHeaders.mid(0, columns), rows);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(snapshot(QFileInfo(target).path()).keys(), QStringList{u"导出.xlsx"_s});

        const QJsonObject book = readXlsxBack(target);
        QCOMPARE(book[u"sheets"_s].toInt(), 1);
        QCOMPARE(book[u"max_row"_s].toInt(), rowCount + 1);
        QCOMPARE(book[u"max_column"_s].toInt(), columns);
        QCOMPARE(book[u"wrapped"_s].toBool(), false);
        const QJsonArray sheetRows = book[u"rows"_s].toArray();
        QCOMPARE(texts(sheetRows.at(0)), kHeaders.mid(0, columns));
        QCOMPARE(texts(sheetRows.at(1)), rows.first());
        QCOMPARE(texts(sheetRows.at(rowCount)), rows.last());
        // Stored widths carry Excel's 5-pixel cell padding at 7 pixels a character.
        const QList<double> widths = {10, 20, 15, 15, 15, 15, 15, 15, 10, 15, 30};
        for (int i = 0; i < widths.size(); ++i) {
            const QString letter(QLatin1Char(char('A' + i)));
            QVERIFY2(qAbs(book[u"widths"_s][letter].toDouble() - (widths[i] + 5.0 / 7)) < 0.01,
                     qPrintable(letter));
        }
    }

    // One workbook holds every case, one per row, so that the reader starts once.
    void cellTypes_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QList<QStringList> rows;
        const auto add = [&rows](const char* name, int column, const QString& text, const QString& type) {
            QStringList row(11);
            row[0] = u"209"_s; // keeps every row in the sheet
            row[column] = text;
            rows << row;
            QTest::newRow(name) << int(rows.size()) << column << text << type;
        };
        const QString text = u"text"_s, number = u"number"_s;
        add("account", 0, u"20912345678"_s, text);
        add("account with leading zero", 0, u"0209123"_s, text);
        add("result digits", 1, u"3"_s, text);
        add("result chinese", 1, u"光猫不在线，请检查"_s, text);
        add("reading", 2, u"-21.53"_s, number);
        add("integer reading", 3, u"3"_s, number);
        add("small negative", 4, u"-0.5"_s, number);
        add("zero", 5, u"0"_s, number);
        add("fifteen digits", 2, u"-123456789.012345"_s, number);
        add("sixteen digits", 2, u"1234567890123456"_s, text);
        add("exponent", 2, u"1e5"_s, text);
        add("leading blank", 3, u" -3"_s, text);
        add("trailing blank", 3, u"-3 "_s, text);
        add("dashes", 4, u"--"_s, text);
        add("plus sign", 5, u"+3"_s, text);
        add("no fraction digits", 5, u"3."_s, text);
        add("no integer digits", 5, u".5"_s, text);
        add("leading zero", 2, u"007"_s, text);
        add("full-width digits", 2, u"－２１"_s, text);
        add("empty reading", 3, QString(), QString());
        add("ip", 7, u"10.1.2.3"_s, text);
        add("pon", 8, u"0/1/2"_s, text);
        add("loid", 9, u"00123456789"_s, text);
        QTemporaryDir dir;
        const QString target = dir.filePath(u"cells.xlsx"_s);
        QVERIFY(writeXlsx(target, kHeaders, rows).ok);
        m_cellBook = readXlsxBack(target);
        QCOMPARE(m_cellBook[u"max_row"_s].toInt(), rows.size() + 1);
    }
    void cellTypes() {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(QString, type);
        const QJsonValue cell = m_cellBook[u"rows"_s][row][column];
        if (type.isEmpty())
            QVERIFY(cell.isNull());
        else if (type == u"number"_s)
            QCOMPARE(cell[u"value"_s].toDouble(), text.toDouble());
        else
            QCOMPARE(cell[u"value"_s].toString(), text);
        QCOMPARE(cell[u"type"_s].toString(), type);
    }

    void emptyListOnlyTellsTheUser() {
        exportList(nullptr, kHeaders, {});
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].text, u"没有可导出的数据!"_s);
        QCOMPARE(m_messages[0].icon, QMessageBox::Information);
        QCOMPARE(m_messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(m_saves.isEmpty());
    }

    void cancelledDialogEndsSilently() {
        exportList(nullptr, kHeaders, listRows(2));
        QCOMPARE(m_saves.size(), 1);
        QCOMPARE(m_saves[0].title, u"请选择要另存的文件名"_s);
        QCOMPARE(m_saves[0].filter, u"Excel文件 (*.xlsx)"_s);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(snapshot(m_dir->path()).isEmpty());
    }

    void newFileThenOpenOnYes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("open");
        QTest::newRow("typed without extension, open") << u"结果"_s << u"结果.xlsx"_s << true;
        QTest::newRow("upper-case extension, keep closed") << u"a.XLSX"_s << u"a.XLSX"_s << false;
        QTest::newRow("old format name beside that file") << u"a.xls"_s << u"a.xls.xlsx"_s << true;
    }
    void newFileThenOpenOnYes() {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QFETCH(bool, open);
        writeFile(path(u"a.xls"_s), "old format");
        m_chosenName = path(typed);
        m_answers << (open ? QMessageBox::Yes : QMessageBox::No);
        exportList(nullptr, kHeaders, listRows(3));

        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].text, u"导出数据成功,是否立即打开!"_s);
        QCOMPARE(m_messages[0].icon, QMessageBox::Information);
        QCOMPARE(m_messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QStringList expected{u"a.xls"_s, written};
        expected.sort();
        QCOMPARE(snapshot(m_dir->path()).keys(), expected);
        QCOMPARE(readFile(path(u"a.xls"_s)), QByteArray("old format"));
        QVERIFY(readFile(path(written)).startsWith("PK"));
        QTRY_COMPARE(m_opened, open ? QList<QString>{path(written)} : QList<QString>{});
    }

    // A query run may replace the list while the dialog is open; the file holds the list of the click.
    void listAsAtTheClick() {
        QList<QStringList> live = listRows(3);
        m_chosenName = path(u"snapshot.xlsx"_s);
        dialogs::setSaveHandler([this, &live](const dialogs::SaveRequest&) {
            live = {{u"20900000000"_s, u"查询中"_s}};
            return m_chosenName;
        });
        exportList(nullptr, kHeaders, live);
        const QJsonObject book = readXlsxBack(m_chosenName);
        QCOMPARE(book[u"max_row"_s].toInt(), 4);
        QCOMPARE(texts(book[u"rows"_s][1]), listRows(3).first());
    }

    void existingFile_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("yes replaces") << QMessageBox::Yes;
        QTest::newRow("no keeps") << QMessageBox::No;
        QTest::newRow("closed box keeps") << QMessageBox::NoButton;
    }
    void existingFile() {
        QFETCH(QMessageBox::StandardButton, answer);
        const QString target = path(u"report.xlsx"_s);
        const QByteArray old("an older export\r\n\0 bytes", 25);
        writeFile(target, old);
        m_chosenName = target;
        m_answers << answer << QMessageBox::No;
        exportList(nullptr, kHeaders, listRows(5));

        QVERIFY(!m_messages.isEmpty());
        QCOMPARE(m_messages[0].text, u"文件已存在，是否覆盖?\r\n"_s + QDir::toNativeSeparators(target));
        QCOMPARE(m_messages[0].icon, QMessageBox::Warning);
        QCOMPARE(m_messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(snapshot(m_dir->path()).keys(), QStringList{u"report.xlsx"_s});
        if (answer != QMessageBox::Yes) {
            QCOMPARE(m_messages.size(), 1);
            QCOMPARE(readFile(target), old);
            return;
        }
        QCOMPARE(m_messages.size(), 2);
        QCOMPARE(m_messages[1].text, u"导出数据成功,是否立即打开!"_s);
        const QJsonObject book = readXlsxBack(target);
        QCOMPARE(book[u"max_row"_s].toInt(), 6);
        QCOMPARE(texts(book[u"rows"_s][5]), listRows(5).last());
    }

    // Every way fails for root too: no permission bits are relied on.
    void failedSaveKeepsWhatWasThere_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("oversizedCell");
        QTest::addColumn<QString>("mentioned");
        QTest::newRow("target is a folder") << u"report.xlsx"_s << false << u"report.xlsx"_s;
        QTest::newRow("folder missing") << u"missing/report.xlsx"_s << false << u"missing"_s;
        QTest::newRow("folder is a file") << u"old.xlsx/report.xlsx"_s << false << u"old.xlsx"_s;
        QTest::newRow("folder not writable") << u"/sys/report.xlsx"_s << false << u"/sys"_s;
        QTest::newRow("write fails half way over a file") << u"old.xlsx"_s << true << u"32,767"_s;
    }
    void failedSaveKeepsWhatWasThere() {
        QFETCH(QString, target);
        QFETCH(bool, oversizedCell);
        QFETCH(QString, mentioned);
        writeFile(path(u"old.xlsx"_s), "previous workbook");
        QVERIFY(QDir(m_dir->path()).mkpath(u"report.xlsx/inner"_s));
        writeFile(path(u"report.xlsx/inner/keep.txt"_s), "kept");
        const auto before = snapshot(m_dir->path());
        auto rows = listRows(2000);
        if (oversizedCell)
            rows[1500][10] = QString(40000, QLatin1Char('x'));

        m_chosenName = QDir(m_dir->path()).absoluteFilePath(target);
        const bool replacing = QFileInfo(m_chosenName).isFile();
        m_answers << QMessageBox::Yes;
        exportList(nullptr, kHeaders, rows);

        QCOMPARE(m_messages.size(), replacing ? 2 : 1);
        const dialogs::MessageRequest& failure = m_messages.last();
        QCOMPARE(failure.icon, QMessageBox::Critical);
        QCOMPARE(failure.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY2(failure.text.startsWith(u"导出失败:\r\n"_s), qPrintable(failure.text));
        QVERIFY2(failure.text.contains(QDir::toNativeSeparators(mentioned)), qPrintable(failure.text));
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(snapshot(m_dir->path()), before);
        QCOMPARE(readFile(path(u"report.xlsx/inner/keep.txt"_s)), QByteArray("kept"));
    }

    // No program takes the file: the user is told, as for any failed export step.
    void failedOpenIsReported() {
        m_chosenName = path(u"r.xlsx"_s);
        m_answers << QMessageBox::Yes;
        m_openError = describeOpenFailure(m_chosenName);
        exportList(nullptr, kHeaders, listRows(1));
        QTRY_COMPARE(m_messages.size(), 2);
        QCOMPARE(m_messages[1].text, u"导出失败:\r\n"_s + m_openError);
        QCOMPARE(m_messages[1].icon, QMessageBox::Critical);
        QVERIFY(m_openError.contains(QDir::toNativeSeparators(m_chosenName)));
    }

    // Failed rows get a fill across the row, weak receive readings their colours; values stay.
    void marksColourTheSheet() {
        QList<QStringList> rows = listRows(3);
        rows[0][2] = u"-30.5"_s; // weak ONT receive
        rows[0][4] = u"-20"_s;
        rows[1] = QStringList{u"20900000002"_s, QString(), QString(), QString(), QString(), QString(),
                              QString(),        QString(), QString(), QString(), QString()};
        rows[2][4] = u"-29"_s; // weak OLT receive
        rows[2][2] = u"n/a"_s;
        SheetMarks marks;
        marks.failedRows = {false, true, false};
        marks.thresholds = Thresholds{};
        marks.comments = {QString(), u"服务器返回状态 500"_s, u"未查询"_s};
        const QString target = path(u"marks.xlsx"_s);
        QVERIFY(writeXlsx(target, kHeaders, rows, marks).ok);
        const QJsonObject book = readXlsxBack(target);
        const auto fill = [&book](int row, int column) { return book[u"fills"_s][row][column].toString(); };
        const auto hex = [](quint32 rgb) {
            return QString::number(rgb, 16).toUpper().rightJustified(6, u'0');
        };
        QCOMPARE(fill(1, 2), hex(marks::kWeakFill));
        QCOMPARE(fill(1, 4), QString());
        QCOMPARE(fill(3, 4), hex(marks::kWeakFill));
        QCOMPARE(fill(3, 2), QString());
        for (int column = 0; column < 11; ++column)
            QCOMPARE(fill(2, column), hex(marks::kFailedFill));
        QCOMPARE(fill(0, 2), QString());
        QCOMPARE(texts(book[u"rows"_s][1]), rows[0]);
        QCOMPARE(texts(book[u"rows"_s][3]), rows[2]);
        QCOMPARE(book[u"rows"_s][2][0][u"value"_s].toString(), rows[1][0]);
        // The reasons go along as notes on the account cells.
        QCOMPARE(book[u"comments"_s].toArray(),
                 (QJsonArray{QJsonValue(), QJsonValue(), u"服务器返回状态 500"_s, u"未查询"_s}));
    }

    // Readings of the listed accounts on a second sheet, newest first; the first sheet as without it.
    void historySheet() {
        const QDateTime newer(QDate(2026, 11, 9), QTime(10, 0, 5));
        const QDateTime older(QDate(2026, 11, 2), QTime(8, 30));
        const QList<journal::Reading> history{
            {u"20900000001"_s, newer, {u"-22.80"_s, u"2.1"_s, u"--"_s, QString()}, u"张三"_s},
            {u"0209000002"_s, older, {u"-19.80"_s, u"2.05"_s, u"-20"_s, u"3.5"_s}}};
        const QString target = path(u"history.xlsx"_s);
        QVERIFY(writeXlsx(target, kHeaders, listRows(2), {}, history).ok);
        const QJsonObject book = readXlsxBack(target);
        QCOMPARE(book[u"sheets"_s].toInt(), 2);
        QCOMPARE(book[u"max_row"_s].toInt(), 3);
        QCOMPARE(texts(book[u"rows"_s][2]), listRows(2).last());

        const QJsonArray rows = book[u"history"_s].toArray();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(texts(rows[0]),
                 QStringList({u"209帐号"_s, u"时间"_s, u"光猫接收光功率(dB)"_s, u"光猫发送光功率(dB)"_s,
                              u"OLT接收光功率(dB)"_s, u"OLT发送光功率(dB)"_s, u"查询人"_s}));
        const auto type = [&rows](int row, int column) { return rows[row][column][u"type"_s].toString(); };
        QCOMPARE(type(1, 0), u"text"_s);
        QCOMPARE(type(1, 1), u"date"_s);
        QCOMPARE(rows[1][1][u"value"_s].toString(), u"2026-11-09 10:00:05"_s);
        QCOMPARE(book[u"history_formats"_s][1].toString(), u"yyyy-mm-dd hh:mm:ss"_s);
        QCOMPARE(type(1, 2), u"number"_s);
        QCOMPARE(texts(rows[1]).mid(2), QStringList({u"-22.8"_s, u"2.1"_s, u"--"_s, QString(), u"张三"_s}));
        QCOMPARE(type(1, 4), u"text"_s);
        QCOMPARE(rows[2][0][u"value"_s].toString(), u"0209000002"_s);
        QCOMPARE(rows[2][1][u"value"_s].toString(), u"2026-11-02 08:30:00"_s);
        QCOMPARE(texts(rows[2]).mid(2), QStringList({u"-19.8"_s, u"2.05"_s, u"-20"_s, u"3.5"_s, QString()}));
    }

    // The port summary comes last, in the order given, its counts as numbers; the list's sheet
    // stays as it was.
    void portSheetFollowsHistory() {
        PonPort trunk{u"10.99.0.12"_s, u"0/1/12"_s, 3, 2, 1, 3, u"疑似主干光路故障"_s, {}, {0, 2, 4}};
        PonPort quiet{u"10.99.0.5"_s, u"0/1/5"_s, 1, 0, 0, 0, QString(), {}, {1}};
        const QList<journal::Reading> history{
            {u"20900000001"_s, QDateTime(QDate(2026, 11, 9), QTime(10, 0)), {u"-22.80"_s, {}, {}, {}}}};
        const QString target = path(u"ports.xlsx"_s);
        QVERIFY(writeXlsx(target, kHeaders, listRows(5), {}, history, {trunk, quiet}).ok);
        const QJsonObject book = readXlsxBack(target);
        QCOMPARE(book[u"names"_s].toArray(), (QJsonArray{u"Sheet1"_s, u"历史"_s, u"PON口汇总"_s}));
        QCOMPARE(book[u"max_row"_s].toInt(), 6);
        QCOMPARE(texts(book[u"rows"_s][5]), listRows(5).last());

        const QJsonArray ports = book[u"ports"_s].toArray();
        QCOMPARE(ports.size(), 3);
        QCOMPARE(texts(ports[0]),
                 (QStringList{u"OLT IP"_s, u"OLT PON"_s, u"帐号数"_s, u"弱光数"_s, u"下降数"_s, u"判断"_s}));
        QCOMPARE(texts(ports[1]),
                 (QStringList{u"10.99.0.12"_s, u"0/1/12"_s, u"3"_s, u"2"_s, u"1"_s, u"疑似主干光路故障"_s}));
        QCOMPARE(ports[1][2][u"type"_s].toString(), u"number"_s);
        QCOMPARE(texts(ports[2]),
                 (QStringList{u"10.99.0.5"_s, u"0/1/5"_s, u"1"_s, u"0"_s, u"0"_s, QString()}));
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
