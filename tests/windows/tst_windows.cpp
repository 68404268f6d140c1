// The Windows side of both programs as the system sees it: version records, window subsystem,
// the updater embedded as resource 101, and the process lookup through the process snapshot.
#include "BuildConfig.h"
#include "platform/ProcessLookup.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

const QString kVesmora = QStringLiteral(VESMORA_PROGRAM);
const QString kUpdate = QStringLiteral(UPDATER_PROGRAM);

// The version record of a program file, read through the system's version API.
class VersionRecord {
public:
    explicit VersionRecord(const QString& program) {
        const std::wstring path = QDir::toNativeSeparators(program).toStdWString();
        m_data.resize(GetFileVersionInfoSizeW(path.c_str(), nullptr));
        if (!m_data.isEmpty() &&
            !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(m_data.size()), m_data.data()))
            m_data.clear();
    }

    // A text of the Chinese (PRC), Unicode block.
    QString text(const QString& name) const {
        const auto value = query(u"\\StringFileInfo\\080404b0\\"_s + name);
        return value.isEmpty() ? u"<missing>"_s
                               : QString::fromWCharArray(reinterpret_cast<const wchar_t*>(value.constData()));
    }

    // The numeric file version, "a.b.c.d".
    QString fileVersion() const {
        const auto value = query(u"\\"_s);
        if (value.size() < qsizetype(sizeof(VS_FIXEDFILEINFO)))
            return u"<missing>"_s;
        const auto* info = reinterpret_cast<const VS_FIXEDFILEINFO*>(value.constData());
        return u"%1.%2.%3.%4"_s.arg(HIWORD(info->dwFileVersionMS))
            .arg(LOWORD(info->dwFileVersionMS))
            .arg(HIWORD(info->dwFileVersionLS))
            .arg(LOWORD(info->dwFileVersionLS));
    }

    // Language and code page of the translation entry, "0804 04b0".
    QString translation() const {
        const auto value = query(u"\\VarFileInfo\\Translation"_s);
        if (value.size() < 4)
            return u"<missing>"_s;
        const auto* pair = reinterpret_cast<const WORD*>(value.constData());
        return u"%1 %2"_s.arg(pair[0], 4, 16, QLatin1Char('0')).arg(pair[1], 4, 16, QLatin1Char('0'));
    }

private:
    QByteArray query(const QString& subBlock) const {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring block = subBlock.toStdWString();
        if (m_data.isEmpty() || !VerQueryValueW(m_data.constData(), block.c_str(), &value, &length) || !value)
            return {};
        // Texts count characters including the final NUL; binary values count bytes.
        const bool isText = subBlock.startsWith(u"\\StringFileInfo"_s);
        return QByteArray(static_cast<const char*>(value),
                          isText ? qsizetype(length) * 2 : qsizetype(length));
    }

    QByteArray m_data;
};

// The subsystem field of a program file's PE header.
int subsystem(const QString& program) {
    const QByteArray bytes = readFile(program);
    if (bytes.size() < qsizetype(sizeof(IMAGE_DOS_HEADER)))
        return -1;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.constData());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        bytes.size() < dos->e_lfanew + qsizetype(sizeof(IMAGE_NT_HEADERS64)))
        return -1;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.constData() + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE ? nt->OptionalHeader.Subsystem : -1;
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private slots:
    void versionRecords_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        const QString vesmoraVersion = QStringLiteral(VESMORA_VERSION_TEXT) + u".0"_s;
        const QList<std::tuple<QString, QString, QString>> rows{
            {kVesmora, u"version"_s, vesmoraVersion},
            {kVesmora, u"translation"_s, u"0804 04b0"_s},
            {kVesmora, u"FileVersion"_s, u"2.01"_s},
            {kVesmora, u"ProductName"_s, u"Vesmora"_s},
            {kVesmora, u"InternalName"_s, u"Vesmora"_s},
            {kVesmora, u"OriginalFilename"_s, u"Vesmora.exe"_s},
            {kUpdate, u"version"_s, u"1.0.0.63"_s},
            {kUpdate, u"translation"_s, u"0804 04b0"_s},
            {kUpdate, u"FileVersion"_s, u"1.00.0063"_s},
            {kUpdate, u"FileDescription"_s, u"Setup"_s},
            {kUpdate, u"ProductName"_s, u"Update"_s},
            {kUpdate, u"InternalName"_s, u"update"_s},
            {kUpdate, u"OriginalFilename"_s, u"update.exe"_s},
        };
        for (const auto& [program, field, expected] : rows)
            QTest::addRow("%s %s", qPrintable(QFileInfo(program).fileName()), qPrintable(field))
                << program << field << expected;
    }
    void versionRecords() {
        QFETCH(QString, program);
        QFETCH(QString, field);
        const VersionRecord record(program);
        const QString actual = field == u"version"_s       ? record.fileVersion()
                               : field == u"translation"_s ? record.translation()
                                                           : record.text(field);
        QTEST(actual, "expected");
    }

    void windowPrograms_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("vesmora") << kVesmora;
        QTest::newRow("update") << kUpdate;
    }
    void windowPrograms() {
        QFETCH(QString, program);
        QCOMPARE(subsystem(program), IMAGE_SUBSYSTEM_WINDOWS_GUI);
    }

    // Resource 101 of type CUSTOM, Chinese (PRC), is the built updater byte for byte.
    void embeddedUpdater() {
        const std::wstring path = QDir::toNativeSeparators(kVesmora).toStdWString();
        HMODULE module =
            LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        QVERIFY(module);
        HRSRC found = FindResourceExW(module, L"CUSTOM", MAKEINTRESOURCEW(101),
                                      MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        const QByteArray embedded = loaded ? QByteArray(static_cast<const char*>(LockResource(loaded)),
                                                        qsizetype(SizeofResource(module, found)))
                                           : QByteArray("<missing>");
        FreeLibrary(module);
        const QByteArray built = readFile(kUpdate);
        QVERIFY(built.startsWith("MZ"));
        QVERIFY(embedded == built);
    }

    // The updater's wait: another program is seen by its file name, in any case, until it ends.
    void processSnapshot() {
        QTemporaryDir dir;
        const QString name = u"VesmoraProbe.exe"_s;
        QVERIFY(writeFile(dir.filePath(name), readFile(QStringLiteral(FAKE_MAIN_PROGRAM))));
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"FAKE_MAIN_SLEEP"_s, u"60"_s);
        probe.setProcessEnvironment(environment);
        probe.start(dir.filePath(name), {});
        QVERIFY(probe.waitForStarted());

        QTRY_VERIFY(platform::isProcessRunning(name));
        QVERIFY(platform::isProcessRunning(u"vesmoraprobe.EXE"_s));
        QVERIFY(!platform::isProcessRunning(u"VesmoraProbe"_s));
        QVERIFY(!platform::isProcessRunning(dir.filePath(name)));
        probe.kill();
        QVERIFY(probe.waitForFinished());
        QTRY_VERIFY(!platform::isProcessRunning(name));
    }
};

QTEST_GUILESS_MAIN(TestWindows)
#include "tst_windows.moc"
