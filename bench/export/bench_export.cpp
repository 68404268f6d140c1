// Export of 1,000 to 100,000 list rows: the product's writer against openpyxl's write-only mode.
// Each writer runs in its own process per size, so one size's peak memory cannot hide another's.
// Then a run of 100,000 rows stopped after its first 1,000: every row left carries its note.

#include "query/XlsxExport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QStringList headers() {
    return {u"209帐号"_s,
            u"结果"_s,
            u"光猫接收光功率(dB)"_s,
            u"光猫发送光功率(dB)"_s,
            u"OLT接收光功率(dB)"_s,
            u"OLT发送光功率(dB)"_s,
            u"所属EMS"_s,
            u"OLT IP"_s,
            u"OLT PON"_s,
            u"激活LOID"_s,
            u"分光器名称"_s};
}

// Mostly answered lines, with the failures and missing readings a real batch has.
QList<QStringList> makeRows(int count) {
    const QStringList results = {u"成功"_s, u"成功"_s, u"成功"_s, u"光猫不在线"_s,
                                 u"查询资源失败：帐号不存在"_s};
    const QStringList ems = {u"华为EMS-城东-01"_s, u"中兴EMS-城西-02"_s, u"烽火EMS-开发区-03"_s};
    QList<QStringList> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString& result = results.at(i % results.size());
        QStringList row{u"209%1"_s.arg(10000000 + i * 7, 8, 10, QLatin1Char('0')), result};
        if (result == results.last()) {
            row << QString() << QString() << QString() << QString() << QString() << QString() << QString()
                << QString() << QString();
        } else {
            const bool offline = result == results.at(3);
            row << (offline ? u"--"_s : u"-%1.%2"_s.arg(15 + i % 12).arg(i % 100, 2, 10, QLatin1Char('0')))
                << (offline ? u"--"_s : u"%1.%2"_s.arg(1 + i % 3).arg(i % 10))
                << u"-%1.%2"_s.arg(18 + i % 9).arg(i % 100, 2, 10, QLatin1Char('0'))
                << u"%1.%2"_s.arg(3 + i % 4).arg(i % 10) << ems.at(i % ems.size())
                << u"10.%1.%2.%3"_s.arg(20 + i % 30).arg(i % 250).arg(1 + i % 253)
                << u"0/%1/%2"_s.arg(1 + i % 16).arg(i % 64) << u"00%1"_s.arg(3000000000LL + i, 10)
                << u"幸福小区%1栋%2单元-1:8分光器-%3"_s.arg(1 + i % 40)
                       .arg(1 + i % 6)
                       .arg(i % 8 + 1, 2, 10, QLatin1Char('0'));
        }
        rows << row;
    }
    return rows;
}

rusage usageNow() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

double cpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Times the product's export alone and prints wall seconds, CPU seconds and the peak resident size
// before and after, for the parent to read.
int timeExport(const QString& target, const QList<QStringList>& rows, const SheetMarks& marks) {
    const rusage before = usageNow();
    QElapsedTimer timer;
    timer.start();
    const ExportResult result = writeXlsx(target, headers(), rows, marks);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (!result.ok) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(result.error));
        return 1;
    }
    const rusage after = usageNow();
    std::printf("%f %f %ld %ld\n", seconds, cpuSeconds(after) - cpuSeconds(before), before.ru_maxrss,
                after.ru_maxrss);
    return 0;
}

// Child: builds the rows, leaves them as TSV for openpyxl, then times the product's export.
int runOurs(int count, const QString& target, const QString& tsv) {
    const QList<QStringList> rows = makeRows(count);
    QFile file(tsv);
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    QTextStream out(&file);
    out << headers().join(QLatin1Char('\t')) << '\n';
    for (const QStringList& row : rows)
        out << row.join(QLatin1Char('\t')) << '\n';
    out.flush();
    file.close();

    return timeExport(target, rows, {});
}

// Child: a stopped run's list, as the main window hands it to the export, timed alone.
int runStopped(int count, const QString& target) {
    constexpr int kAnswered = 1000;
    QList<QStringList> rows = makeRows(kAnswered);
    SheetMarks marks;
    for (const QStringList& row : rows) {
        const bool failed = row.at(2).isEmpty();
        marks.failedRows << failed;
        marks.comments << (failed ? u"服务器回复不是有效的数据(非JSON)"_s : QString());
    }
    rows.reserve(count);
    for (int i = kAnswered; i < count; ++i) {
        rows << (QStringList{u"209%1"_s.arg(10000000 + i * 7, 8, 10, QLatin1Char('0'))} + QStringList(10));
        marks.failedRows << false;
        marks.comments << u"未查询：查询已停止，未轮到此帐号"_s;
    }
    return timeExport(target, rows, marks);
}

struct Run {
    double seconds = -1;
    double cpu = 0;
    long beforeKiB = 0;
    long peakKiB = 0;
    qint64 bytes = 0;
};

Run runChild(const QString& program, const QStringList& arguments, const QString& output) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, arguments);
    Run run;
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return run;
    const QStringList figures =
        QString::fromLatin1(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (figures.size() != 4)
        return run;
    run.seconds = figures[0].toDouble();
    run.cpu = figures[1].toDouble();
    run.beforeKiB = figures[2].toLong();
    run.peakKiB = figures[3].toLong();
    run.bytes = QFileInfo(output).size();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--ours"_s)
        return runOurs(args[2].toInt(), args[3], args[4]);
    if (args.size() == 4 && args[1] == u"--stopped"_s)
        return runStopped(args[2].toInt(), args[3]);

    QTemporaryDir dir;
    std::printf("%7s | %-8s | %7s | %7s | %8s | %10s | %8s | %s\n", "rows", "writer", "wall s", "cpu s",
                "peak MiB", "write +MiB", "file KiB", "speed-up (wall / cpu)");
    bool ok = true;
    for (const int count : {1000, 10000, 100000}) {
        const QString tsv = dir.filePath(u"rows-%1.tsv"_s.arg(count));
        const QString ours = dir.filePath(u"ours-%1.xlsx"_s.arg(count));
        const QString theirs = dir.filePath(u"openpyxl-%1.xlsx"_s.arg(count));
        const Run a =
            runChild(app.applicationFilePath(), {u"--ours"_s, QString::number(count), ours, tsv}, ours);
        const Run b =
            runChild(u"/usr/bin/python3"_s, {QStringLiteral(VESMORA_OPENPYXL_SCRIPT), tsv, theirs}, theirs);
        ok = ok && a.seconds >= 0 && b.seconds >= 0;
        const auto line = [count](const char* name, const Run& r, const char* ratio) {
            std::printf("%7d | %-8s | %7.3f | %7.3f | %8.1f | %10.1f | %8lld | %s\n", count, name, r.seconds,
                        r.cpu, r.peakKiB / 1024.0, (r.peakKiB - r.beforeKiB) / 1024.0,
                        static_cast<long long>(r.bytes / 1024), ratio);
        };
        const QByteArray ratio = a.seconds > 0 && a.cpu > 0 && b.seconds > 0
                                     ? QByteArray::number(b.seconds / a.seconds, 'f', 1) + "x / " +
                                           QByteArray::number(b.cpu / a.cpu, 'f', 1) + 'x'
                                     : "-";
        line("vesmora", a, ratio.constData());
        line("openpyxl", b, "");
        QFile::remove(ours);
        QFile::remove(theirs);
        QFile::remove(tsv);
    }
    const QString stopped = dir.filePath(u"stopped.xlsx"_s);
    const Run s = runChild(app.applicationFilePath(), {u"--stopped"_s, u"100000"_s, stopped}, stopped);
    ok = ok && s.seconds >= 0;
    std::printf("%7d | %-8s | %7.3f | %7.3f | %8.1f | %10.1f | %8lld | %s\n", 100000, "stopped", s.seconds,
                s.cpu, s.peakKiB / 1024.0, (s.peakKiB - s.beforeKiB) / 1024.0,
                static_cast<long long>(s.bytes / 1024), "1,000 answered, 99,000 with the note why not");
    std::printf("cpu s: user + system time of the write; peak MiB: whole process; write +MiB: growth of "
                "the peak during the write alone (the rows are already in memory)\n");
    return ok ? 0 : 1;
}
