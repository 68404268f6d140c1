#include "query/ui/ExportFlow.h"

#include "common/ui/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

// The write blocks the window; the wait cursor says so and is gone before any message shows.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

void exportList(QWidget* parent, const QStringList& listHeaders, const QList<QStringList>& listRows,
                const SheetMarks& listMarks, const QList<journal::Reading>& history,
                const QList<PonPort>& ports) {
    // The dialogs below run event loops in which a query run may change the list; the file holds
    // the list as it was at the click. The copies share the data until the list changes.
    const QStringList headers = listHeaders;
    const QList<QStringList> rows = listRows;
    const SheetMarks marks = listMarks;
    if (rows.isEmpty()) {
        dialogs::message(parent, QMessageBox::Information, u"没有可导出的数据!"_s);
        return;
    }

    const QString chosen = dialogs::saveFileName(parent, u"请选择要另存的文件名"_s, u"Excel文件 (*.xlsx)"_s);
    if (chosen.isEmpty())
        return;
    const QString path = QFileInfo(withXlsxExtension(chosen)).absoluteFilePath();

    if (QFileInfo(path).isFile()) {
        const auto answer =
            dialogs::message(parent, QMessageBox::Warning,
                             u"文件已存在，是否覆盖?"_s + u"\r\n"_s + QDir::toNativeSeparators(path),
                             QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }

    ExportResult result;
    {
        const WaitCursor wait;
        result = writeXlsx(path, headers, rows, marks, history, ports);
    }
    if (!result.ok) {
        dialogs::message(parent, QMessageBox::Critical, u"导出失败:"_s + u"\r\n"_s + result.error);
        return;
    }

    const auto open = dialogs::message(parent, QMessageBox::Information, u"导出数据成功,是否立即打开!"_s,
                                       QMessageBox::Yes | QMessageBox::No);
    if (open != QMessageBox::Yes)
        return;
    QObject* context = parent ? static_cast<QObject*>(parent) : QCoreApplication::instance();
    QPointer<QWidget> owner(parent);
    dialogs::openFile(path, context, [owner](const QString& error) {
        if (!error.isEmpty())
            dialogs::message(owner, QMessageBox::Critical, u"导出失败:"_s + u"\r\n"_s + error);
    });
}
