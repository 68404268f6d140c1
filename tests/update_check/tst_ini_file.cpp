#include "common/IniFile.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestIniFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    static QByteArray codePage(const QString& text) {
        QStringEncoder encoder(QStringConverter::System);
        return encoder.encode(text);
    }
    QString path(const QString& name = u"update.ini"_s) const { return m_dir.filePath(name); }

    void writeBytes(const QString& file, const QByteArray& bytes) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }
    QByteArray readBytes(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    static QByteArray normalised(QByteArray bytes) { return bytes.replace("\r\n", "\n"); }

private slots:
    void init() { QFile::remove(path()); }

    void readGivesTheDefault_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("no file") << QByteArray() << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("missing section")
            << QByteArray("[Other]\nNewVer=2.1.1\n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("missing key") << QByteArray("[UpInfo]\nOldVer=2.1.0\n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("key of another section")
            << QByteArray("[UpInfo]\nOldVer=1\n[Next]\nNewVer=2\n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("empty value") << QByteArray("[UpInfo]\nNewVer=\n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("only blanks") << QByteArray("[UpInfo]\nNewVer=   \t \n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("empty quotes") << QByteArray("[UpInfo]\nNewVer=\"\"\n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("line without =") << QByteArray("[UpInfo]\nNewVer\n") << u"UpInfo"_s << u"NewVer"_s;
        QTest::newRow("lone lead byte is no empty name")
            << QByteArray("[\xd7]\nk=1\n") << QString() << u"k"_s;
    }
    void readGivesTheDefault() {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        if (!content.isEmpty())
            writeBytes(path(), content);
        QCOMPARE(iniRead(section, key, u"缺省"_s, path()), u"缺省"_s);
    }

    void readCleansTheValue_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QByteArray("NewVer=2.1.1") << u"2.1.1"_s;
        QTest::newRow("blanks around") << QByteArray("NewVer=  \t2.1.1 \t ") << u"2.1.1"_s;
        QTest::newRow("blanks around the name") << QByteArray("  NewVer  =2.1.1") << u"2.1.1"_s;
        QTest::newRow("double quotes") << QByteArray("NewVer=\"  2.1.1 \"") << u"  2.1.1 "_s;
        QTest::newRow("single quotes") << QByteArray("NewVer='a,b'") << u"a,b"_s;
        QTest::newRow("quotes inside blanks") << QByteArray("NewVer=  \"x\"  ") << u"x"_s;
        QTest::newRow("only one pair") << QByteArray("NewVer=\"\"x\"\"") << u"\"x\""_s;
        QTest::newRow("mismatched quotes kept") << QByteArray("NewVer=\"x'") << u"\"x'"_s;
        QTest::newRow("lone quote kept") << QByteArray("NewVer=\"") << u"\""_s;
        QTest::newRow("equals in value") << QByteArray("NewVer=a=b") << u"a=b"_s;
        QTest::newRow("CR LF line") << QByteArray("NewVer=2.1.1\r") << u"2.1.1"_s;
    }
    void readCleansTheValue() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        writeBytes(path(), "[UpInfo]\n" + line + "\nOldVer=2.1.0\n");
        QCOMPARE(iniRead(u"UpInfo"_s, u"NewVer"_s, u"-"_s, path()), expected);
    }

    void namesIgnoreCase() {
        writeBytes(path(), "[upinfo]\r\nnewver=2.1.1\r\n");
        QCOMPARE(iniRead(u"UpInfo"_s, u"NewVer"_s, QString(), path()), u"2.1.1"_s);
        QVERIFY(iniWrite(u"UPINFO"_s, u"NEWVER"_s, u"2.2.0"_s, path()) != 0);
        QCOMPARE(iniRead(u"UpInfo"_s, u"NewVer"_s, QString(), path()), u"2.2.0"_s);
        QCOMPARE(
            normalised(readBytes(path())).count("NEWVER") + normalised(readBytes(path())).count("newver"), 1);
    }

    void nameOutsideTheCodePageReadsBack() {
        // A lone surrogate has no code-page form; its stored stand-in must still match the same name.
        const QString key = u"UpNotes"_s + QChar(0xD800);
        QVERIFY(iniWrite(u"UpInfo"_s, key, u"1"_s, path()) != 0);
        QCOMPARE(iniRead(u"UpInfo"_s, key, QString(), path()), u"1"_s);
    }

    void firstSectionAndKeyWin() {
        writeBytes(path(), "[UpInfo]\nNewVer=1\nNewVer=2\n[UpInfo]\nNewVer=3\n");
        QCOMPARE(iniRead(u"UpInfo"_s, u"NewVer"_s, QString(), path()), u"1"_s);
    }

    void valueIsCutAtTheLimit_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("expectedChars");
        QTest::newRow("ascii at the limit") << QString() << u"a"_s << 4095 << 4095;
        QTest::newRow("ascii one over") << QString() << u"a"_s << 4096 << 4095;
        QTest::newRow("5000 bytes") << QString() << u"a"_s << 5000 << 4095;
        // A character that does not fit whole is dropped, never split.
        const int bytesPerChar = int(codePage(u"版"_s).size());
        QTest::newRow("chinese") << QString() << u"版"_s << 3000 << 4095 / bytesPerChar;
        // The last character ends on the 4,095th byte, or would end on the 4,096th.
        if (bytesPerChar == 3) {
            QTest::newRow("UTF-8: last character ends the limit") << u"aaa"_s << u"版"_s << 1364 << 1367;
            QTest::newRow("UTF-8: last character across the limit") << u"aaaa"_s << u"版"_s << 1364 << 1367;
        } else {
            QTest::newRow("GBK: last character ends the limit") << u"a"_s << u"版"_s << 2047 << 2048;
            QTest::newRow("GBK: last character across the limit") << u"aa"_s << u"版"_s << 2047 << 2048;
        }
    }
    void valueIsCutAtTheLimit() {
        QFETCH(QString, prefix);
        QFETCH(QString, unit);
        QFETCH(int, count);
        QFETCH(int, expectedChars);
        const QString value = prefix + unit.repeated(count);
        QVERIFY(iniWrite(u"UpInfo"_s, u"UpNotes"_s, value, path()) != 0);
        const QString back = iniRead(u"UpInfo"_s, u"UpNotes"_s, QString(), path());
        QCOMPARE(back.size(), expectedChars);
        QCOMPARE(back, value.left(expectedChars));
    }

    void writeCreatesFileAndSection() {
        const QString nested = m_dir.filePath(u"fresh.ini"_s);
        QVERIFY(iniWrite(u"UpInfo"_s, u"NewVer"_s, u"2.1.1"_s, nested) != 0);
        QCOMPARE(normalised(readBytes(nested)), QByteArray("[UpInfo]\nNewVer=2.1.1\n"));
        QVERIFY(iniWrite(u"Other"_s, u"A"_s, u"1"_s, nested) != 0);
        QCOMPARE(normalised(readBytes(nested)), QByteArray("[UpInfo]\nNewVer=2.1.1\n[Other]\nA=1\n"));
    }

    void keysKeepTheirOrderAndAreReplacedInPlace() {
        const QStringList keys{u"NewVer"_s, u"OldVer"_s, u"UpFileName"_s, u"UpNotes"_s, u"MainApp"_s};
        for (const QString& key : keys)
            QVERIFY(iniWrite(u"UpInfo"_s, key, key.toLower(), path()) != 0);
        QVERIFY(iniWrite(u"UpInfo"_s, u"OldVer"_s, u"2.1.0"_s, path()) != 0);
        QCOMPARE(normalised(readBytes(path())),
                 QByteArray("[UpInfo]\nNewVer=newver\nOldVer=2.1.0\nUpFileName=upfilename\nUpNotes=upnotes\n"
                            "MainApp=mainapp\n"));
    }

    void appendedKeyStaysInItsSection() {
        writeBytes(path(), "; kept\n[UpInfo]\nNewVer=1\n\n[Other]\nA=1\n");
        QVERIFY(iniWrite(u"UpInfo"_s, u"MainApp"_s, u"Vesmora.exe"_s, path()) != 0);
        QCOMPARE(normalised(readBytes(path())),
                 QByteArray("; kept\n[UpInfo]\nNewVer=1\nMainApp=Vesmora.exe\n\n[Other]\nA=1\n"));
        QCOMPARE(iniRead(u"Other"_s, u"A"_s, QString(), path()), u"1"_s);
    }

    void untouchedLinesReadAlikeAfterAWrite() {
        // Found by the fuzzer: the write dropped one of two carriage returns, and the header then
        // read as the empty section and hid the key written under it.
        writeBytes(path(), "[\xd7\r\r\nk=1\n");
        QVERIFY(iniWrite(QString(), u"k"_s, u"2"_s, path()) != 0);
        QVERIFY(readBytes(path()).startsWith("[\xd7\r\r\nk=1\n"));
        QCOMPARE(iniRead(QString(), u"k"_s, QString(), path()), u"2"_s);
    }

    void valueWithBlanksIsStoredAsGiven() {
        QVERIFY(iniWrite(u"UpInfo"_s, u"UpNotes"_s, u"  修复 /n 问题  "_s, path()) != 0);
        QCOMPARE(iniRead(u"UpInfo"_s, u"UpNotes"_s, QString(), path()), u"修复 /n 问题"_s);
        QVERIFY(normalised(readBytes(path())).endsWith("UpNotes=" + codePage(u"  修复 /n 问题  "_s) + "\n"));
    }

    void unsafeInputIsRefused_data() {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("line break in value") << u"UpInfo"_s << u"UpNotes"_s << u"a\r\n[Evil]\r\nx=1"_s;
        QTest::newRow("line break in key") << u"UpInfo"_s << u"Up\nNotes"_s << u"a"_s;
        QTest::newRow("equals in key") << u"UpInfo"_s << u"Up=Notes"_s << u"a"_s;
        QTest::newRow("empty key") << u"UpInfo"_s << u" "_s << u"a"_s;
        QTest::newRow("bracket in section") << u"Up]Info"_s << u"UpNotes"_s << u"a"_s;
        // Would be read back as the header of a section "Evil".
        QTest::newRow("key opening a section") << u"UpInfo"_s << u"[Evil]"_s << u"a"_s;
        QTest::newRow("key opening a section after blanks") << u"UpInfo"_s << u"  [x"_s << u"a"_s;
    }
    void unsafeInputIsRefused() {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        writeBytes(path(), "[UpInfo]\nNewVer=1\n");
        QCOMPARE(iniWrite(section, key, value, path()), 0);
        QCOMPARE(normalised(readBytes(path())), QByteArray("[UpInfo]\nNewVer=1\n"));
    }

    void unwritableFileGivesZero() {
        QCOMPARE(iniWrite(u"UpInfo"_s, u"NewVer"_s, u"1"_s, m_dir.filePath(u"missing/dir/update.ini"_s)), 0);
        // A folder in the file's place can be neither read nor replaced.
        QVERIFY(QDir(m_dir.path()).mkpath(u"taken.ini"_s));
        QCOMPARE(iniWrite(u"UpInfo"_s, u"NewVer"_s, u"1"_s, m_dir.filePath(u"taken.ini"_s)), 0);
    }

    void fileIsInTheSystemCodePage() {
        QVERIFY(iniWrite(u"UpInfo"_s, u"UpNotes"_s, u"更新说明"_s, path()) != 0);
        const QByteArray expected = codePage(u"更新说明"_s);
        QVERIFY(readBytes(path()).contains("UpNotes=" + expected));
        QCOMPARE(iniRead(u"UpInfo"_s, u"UpNotes"_s, QString(), path()), u"更新说明"_s);
    }

    void gbkRoundTrip() {
        const QByteArray gbk = QByteArray::fromHex("b0e6b1be"); // 版本
        if (codePage(u"版本"_s) != gbk)
            QSKIP("the system code page is not GBK here; the GBK round trip runs on a Chinese Windows");
        QVERIFY(iniWrite(u"UpInfo"_s, u"UpNotes"_s, u"版本"_s, path()) != 0);
        QVERIFY(readBytes(path()).contains("UpNotes=" + gbk));
        writeBytes(path(), "[UpInfo]\r\nUpNotes=" + gbk + "\r\n");
        QCOMPARE(iniRead(u"UpInfo"_s, u"UpNotes"_s, QString(), path()), u"版本"_s);

        // A write leaves every other line as it was, byte for byte.
        const QByteArray before =
            "; " + gbk + "\r\n[UpInfo]\r\nUpNotes=" + gbk + "\r\n\r\n[Other]\r\nA=" + gbk + "\r\n";
        writeBytes(path(), before);
        QVERIFY(iniWrite(u"UpInfo"_s, u"NewVer"_s, u"新版本"_s, path()) != 0);
        QCOMPARE(readBytes(path()),
                 QByteArray(before).replace("\r\n\r\n", "\r\nNewVer=" + codePage(u"新版本"_s) + "\r\n\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_ini_file.moc"
