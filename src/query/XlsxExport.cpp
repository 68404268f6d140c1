#include "query/XlsxExport.h"

#include "common/ErrorText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <optional>
#include <system_error>

using namespace Qt::StringLiterals;

namespace {

// List columns 2 to 5 hold the optical power readings; users sort and filter them as numbers.
constexpr qsizetype kFirstPowerColumn = 2;
constexpr qsizetype kLastPowerColumn = 5;

constexpr std::array<double, 11> kColumnWidths = {10, 20, 15, 15, 15, 15, 15, 15, 10, 15, 30};
constexpr std::array<double, 7> kHistoryWidths = {14, 20, 15, 15, 15, 15, 16};
constexpr std::array<double, PonSummary::ColumnCount> kPortWidths = {15, 10, 8, 8, 8, 40};

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

QByteArray libraryFileName(const QString& path) {
#if defined(Q_OS_WIN) && defined(_MSC_VER)
    // libxlsxwriter built with MSVC takes UTF-8 names and converts them to wide ones itself.
    return QDir::toNativeSeparators(path).toUtf8();
#elif defined(Q_OS_WIN)
    // Built with mingw it hands the name to fopen(), which reads it in the ANSI code page.
    return QDir::toNativeSeparators(path).toLocal8Bit();
#else
    return QFile::encodeName(path);
#endif
}

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Reserves a name in the target folder that no other file has (exclusive create), with the
// ordinary permissions a new file gets there.
bool createTemporaryFile(const QString& folder, const QString& target, QString* name, QString* error) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString candidate = QDir(folder).filePath(u".vesmora-export-%1.tmp"_s.arg(
            QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        QFile file(candidate);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            *name = candidate;
            return true;
        }
        if (file.exists())
            continue;
        *error = describeFileError(file.error(), target);
        return false;
    }
    *error = describeFileError(QFileDevice::OpenError, target);
    return false;
}

// The value of an optional minus, digits without a needless leading zero and an optional
// fraction, at most 15 digits so that the double shows the same text; nothing for anything else,
// which stays text as shown. (QString::toDouble would cost a tenth of the whole export.)
std::optional<double> plainDecimal(const QString& text) {
    char ascii[17]; // minus, 15 digits, point
    const qsizetype size = text.size();
    if (size == 0 || size > qsizetype(sizeof ascii))
        return std::nullopt;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = text.at(i).unicode();
        if (u > 0x7f)
            return std::nullopt;
        ascii[i] = char(u);
    }
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const char* const end = ascii + size;
    const char* p = ascii[0] == '-' ? ascii + 1 : ascii;
    const char* const integerStart = p;
    while (p < end && isDigit(*p))
        ++p;
    const auto integerDigits = p - integerStart;
    if (integerDigits == 0 || (integerDigits > 1 && *integerStart == '0'))
        return std::nullopt;
    std::ptrdiff_t fractionDigits = 0;
    if (p < end && *p == '.') {
        const char* const fractionStart = ++p;
        while (p < end && isDigit(*p))
            ++p;
        fractionDigits = p - fractionStart;
        if (fractionDigits == 0)
            return std::nullopt;
    }
    if (p != end || integerDigits + fractionDigits > 15)
        return std::nullopt;
    double value = 0;
    std::from_chars(ascii, end, value);
    return value;
}

QString libraryError(lxw_error code, const QString& target) {
    switch (code) {
    case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED:
        return describeSheetLimit(SheetLimit::CellText);
    case LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE:
        return describeSheetLimit(SheetLimit::Rows);
    case LXW_ERROR_CREATING_XLSX_FILE:
        return describeFileError(QFileDevice::OpenError, target);
    default:
        return describeFileError(QFileDevice::WriteError, target);
    }
}

lxw_color_t colour(quint32 rgb) {
    return lxw_color_t(rgb);
}

struct Formats {
    lxw_format* weak = nullptr;
    lxw_format* failed = nullptr;
};

Formats addFormats(lxw_workbook* workbook) {
    Formats formats;
    formats.weak = workbook_add_format(workbook);
    format_set_bg_color(formats.weak, colour(marks::kWeakFill));
    format_set_font_color(formats.weak, colour(marks::kWeakText));
    formats.failed = workbook_add_format(workbook);
    format_set_bg_color(formats.failed, colour(marks::kFailedFill));
    format_set_font_color(formats.failed, colour(marks::kFailedText));
    return formats;
}

lxw_datetime excelTime(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    const QTime clock = local.time();
    return lxw_datetime{date.year(),  date.month(),   date.day(),
                        clock.hour(), clock.minute(), clock.second() + clock.msec() / 1000.0};
}

lxw_error writeHistory(lxw_workbook* workbook, const QList<journal::Reading>& history) {
    const QByteArray name = historySheetName().toUtf8();
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, name.constData());
    if (!sheet)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    lxw_format* timeFormat = workbook_add_format(workbook);
    format_set_num_format(timeFormat, "yyyy-mm-dd hh:mm:ss");
    lxw_error error = LXW_NO_ERROR;
    for (size_t column = 0; column < kHistoryWidths.size() && error == LXW_NO_ERROR; ++column)
        error = worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column), kHistoryWidths[column],
                                     nullptr);
    const QStringList headers = historyHeaders();
    for (qsizetype column = 0; column < headers.size() && error == LXW_NO_ERROR; ++column)
        error = worksheet_write_string(sheet, 0, lxw_col_t(column), headers[column].toUtf8().constData(),
                                       nullptr);

    // Newest first: what does not fit is the oldest.
    const qsizetype count = std::min<qsizetype>(history.size(), LXW_ROW_MAX - 1);
    for (qsizetype index = 0; index < count && error == LXW_NO_ERROR; ++index) {
        const journal::Reading& reading = history[index];
        const auto row = lxw_row_t(index + 1);
        error = worksheet_write_string(sheet, row, 0, reading.account.toUtf8().constData(), nullptr);
        if (error == LXW_NO_ERROR) {
            lxw_datetime time = excelTime(reading.takenAt);
            error = worksheet_write_datetime(sheet, row, 1, &time, timeFormat);
        }
        for (size_t value = 0; value < reading.values.size() && error == LXW_NO_ERROR; ++value) {
            const QString& text = reading.values[value];
            const auto column = lxw_col_t(2 + value);
            if (text.isEmpty())
                continue;
            if (const auto number = plainDecimal(text))
                error = worksheet_write_number(sheet, row, column, *number, nullptr);
            else
                error = worksheet_write_string(sheet, row, column, text.toUtf8().constData(), nullptr);
        }
        if (error == LXW_NO_ERROR && !reading.takenBy.isEmpty())
            error = worksheet_write_string(sheet, row, 6, reading.takenBy.toUtf8().constData(), nullptr);
    }
    return error;
}

lxw_error writePorts(lxw_workbook* workbook, const QList<PonPort>& ports) {
    const QByteArray name = PonSummary::sheetName().toUtf8();
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, name.constData());
    if (!sheet)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    lxw_error error = LXW_NO_ERROR;
    for (size_t column = 0; column < kPortWidths.size() && error == LXW_NO_ERROR; ++column)
        error =
            worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column), kPortWidths[column], nullptr);
    const QStringList headers = PonSummary::headers();
    for (qsizetype column = 0; column < headers.size() && error == LXW_NO_ERROR; ++column)
        error = worksheet_write_string(sheet, 0, lxw_col_t(column), headers[column].toUtf8().constData(),
                                       nullptr);
    const qsizetype count = std::min<qsizetype>(ports.size(), LXW_ROW_MAX - 1);
    for (qsizetype index = 0; index < count && error == LXW_NO_ERROR; ++index) {
        const PonPort& port = ports[index];
        const auto row = lxw_row_t(index + 1);
        const auto text = [&](int column, const QString& value) {
            if (error == LXW_NO_ERROR && !value.isEmpty())
                error = worksheet_write_string(sheet, row, lxw_col_t(column), value.toUtf8().constData(),
                                               nullptr);
        };
        const auto number = [&](int column, int value) {
            if (error == LXW_NO_ERROR)
                error = worksheet_write_number(sheet, row, lxw_col_t(column), value, nullptr);
        };
        text(PonSummary::OltIp, port.oltIp);
        text(PonSummary::OltPon, port.oltPon);
        number(PonSummary::Lines, port.lines);
        number(PonSummary::Weak, port.weak);
        number(PonSummary::Drops, port.drops);
        text(PonSummary::Verdict, port.verdict);
    }
    return error;
}

// Fills and closes the workbook at fileName; workbook_close runs on every path so that nothing
// stays open.
lxw_error writeWorkbook(const QByteArray& fileName, const QStringList& headers,
                        const QList<QStringList>& rows, const SheetMarks& marks,
                        const QList<journal::Reading>& history, const QList<PonPort>& ports) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(fileName.constData(), &options);
    if (!workbook)
        return LXW_ERROR_CREATING_XLSX_FILE;
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    if (!sheet) {
        workbook_close(workbook);
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    }

    const Formats formats = addFormats(workbook);
    lxw_error error = LXW_NO_ERROR;
    // Constant-memory mode writes each row as the next one starts, so widths go first.
    for (size_t column = 0; column < kColumnWidths.size() && error == LXW_NO_ERROR; ++column)
        error =
            worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column), kColumnWidths[column], nullptr);

    const auto writeRow = [&](lxw_row_t row, const QStringList& cells, bool typed, bool failed) {
        for (qsizetype column = 0; column < cells.size(); ++column) {
            const QString& text = cells.at(column);
            if (text.isEmpty() && !failed)
                continue;
            // lxw_col_t is 16 bits wide: a cast alone would wrap onto another column.
            if (column >= LXW_COL_MAX)
                return LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE;
            const auto col = lxw_col_t(column);
            lxw_format* format = failed ? formats.failed : nullptr;
            if (!format && marks.thresholds && marks.thresholds->isWeak(int(column), text))
                format = formats.weak;
            lxw_error cellError;
            const bool reading = typed && column >= kFirstPowerColumn && column <= kLastPowerColumn;
            if (text.isEmpty())
                cellError = worksheet_write_blank(sheet, row, col, format);
            else if (const auto number = reading ? plainDecimal(text) : std::nullopt)
                cellError = worksheet_write_number(sheet, row, col, *number, format);
            else
                cellError = worksheet_write_string(sheet, row, col, text.toUtf8().constData(), format);
            if (cellError != LXW_NO_ERROR)
                return cellError;
        }
        return LXW_NO_ERROR;
    };

    if (error == LXW_NO_ERROR)
        error = writeRow(0, headers, false, false);
    for (qsizetype index = 0; index < rows.size() && error == LXW_NO_ERROR; ++index) {
        error = index + 1 >= LXW_ROW_MAX
                    ? LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE
                    : writeRow(lxw_row_t(index + 1), rows.at(index), true, marks.failedRows.value(index));
        // Why a row failed, or why it was never asked, travels with the file.
        const QString comment = marks.comments.value(index);
        if (error == LXW_NO_ERROR && !comment.isEmpty())
            error = worksheet_write_comment(sheet, lxw_row_t(index + 1), 0, comment.toUtf8().constData());
    }
    if (error == LXW_NO_ERROR && !history.isEmpty())
        error = writeHistory(workbook, history);
    if (error == LXW_NO_ERROR && !ports.isEmpty())
        error = writePorts(workbook, ports);

    const lxw_error closeError = workbook_close(workbook);
    return error != LXW_NO_ERROR ? error : closeError;
}

} // namespace

QString historySheetName() {
    return u"历史"_s;
}

QStringList historyHeaders() {
    return {u"209帐号"_s,
            u"时间"_s,
            u"光猫接收光功率(dB)"_s,
            u"光猫发送光功率(dB)"_s,
            u"OLT接收光功率(dB)"_s,
            u"OLT发送光功率(dB)"_s,
            u"查询人"_s};
}

QString withXlsxExtension(const QString& name) {
    if (name.right(5).toLower() == QLatin1String(".xlsx"))
        return name;
    return name + QLatin1String(".xlsx");
}

ExportResult writeXlsx(const QString& path, const QStringList& headers, const QList<QStringList>& rows,
                       const SheetMarks& marks, const QList<journal::Reading>& history,
                       const QList<PonPort>& ports) {
    const QFileInfo target(path);
    const QString targetPath = target.absoluteFilePath();
    if (target.isDir())
        return {false, u"已有同名的文件夹: %1"_s.arg(nativePath(targetPath))};
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir())
        return {false, describeFileError(QFileDevice::OpenError, targetPath)};

    QString temporary;
    QString error;
    if (!createTemporaryFile(folder, targetPath, &temporary, &error))
        return {false, error};

    const lxw_error written = writeWorkbook(libraryFileName(temporary), headers, rows, marks, history, ports);
    if (written != LXW_NO_ERROR) {
        QFile::remove(temporary);
        return {false, libraryError(written, targetPath)};
    }

    std::error_code renameError;
    std::filesystem::rename(fsPath(temporary), fsPath(targetPath), renameError);
    if (renameError) {
        QFile::remove(temporary);
        return {false, describeFileError(QFileDevice::RenameError, targetPath)};
    }
    return {true, QString()};
}
