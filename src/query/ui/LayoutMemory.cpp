#include "query/ui/LayoutMemory.h"

#include <QDir>
#include <QEvent>
#include <QHeaderView>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

const QString kSize = u"MainWindow/Size"_s;
const QString kMaximised = u"MainWindow/Maximized"_s;
const QString kColumns = u"MainWindow/ColumnWidths"_s;

// A dragged column is never narrower than this, nor so wide that it could hide the others.
constexpr int kNarrowest = 8;
constexpr int kWidest = 4000;
constexpr QSize kLargestWindow{16000, 16000};

QString& settingsPathOverride() {
    static QString path;
    return path;
}

} // namespace

LayoutMemory::LayoutMemory(QWidget* window, QHeaderView* header)
    : m_window(window), m_header(header), m_normalSize(window->size()) {
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(500);
    connect(&m_saveTimer, &QTimer::timeout, this, &LayoutMemory::save);
    restore();
    window->installEventFilter(this);
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (!m_restoring)
            m_saveTimer.start();
    });
}

LayoutMemory::~LayoutMemory() {
    if (m_saveTimer.isActive())
        save();
}

void LayoutMemory::setSettingsPathOverride(const QString& path) {
    settingsPathOverride() = path;
}

QString LayoutMemory::settingsPath() {
    if (!settingsPathOverride().isEmpty())
        return settingsPathOverride();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(u"settings.ini"_s);
}

void LayoutMemory::restore() {
    const QSettings settings(settingsPath(), QSettings::IniFormat);
    m_restoring = true;
    const QSize size = settings.value(kSize).toSize();
    // Never below the first size.
    if (size.isValid()) {
        m_normalSize = size.expandedTo(m_window->minimumSize()).boundedTo(kLargestWindow);
        m_window->resize(m_normalSize);
    }
    m_maximised = settings.value(kMaximised).toBool();
    if (m_maximised)
        m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
    const QStringList widths = settings.value(kColumns).toString().split(u',', Qt::SkipEmptyParts);
    if (widths.size() == m_header->count()) {
        for (int i = 0; i < widths.size(); ++i) {
            bool ok = false;
            const int width = widths[i].trimmed().toInt(&ok);
            if (ok && width >= kNarrowest && width <= kWidest)
                m_header->resizeSection(i, width);
        }
    }
    m_restoring = false;
}

void LayoutMemory::save() {
    m_saveTimer.stop();
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(kSize, m_normalSize);
    settings.setValue(kMaximised, m_maximised);
    QStringList widths;
    for (int i = 0; i < m_header->count(); ++i)
        widths << QString::number(m_header->sectionSize(i));
    settings.setValue(kColumns, widths.join(u','));
}

bool LayoutMemory::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window || m_restoring)
        return false;
    if (event->type() == QEvent::Resize) {
        // Only the size the window has when neither maximised nor minimised comes back as a size.
        if (!(m_window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
            m_normalSize = m_window->size();
        m_saveTimer.start();
    } else if (event->type() == QEvent::WindowStateChange) {
        const bool maximised = m_window->windowState() & Qt::WindowMaximized;
        if (maximised != m_maximised && !(m_window->windowState() & Qt::WindowMinimized)) {
            m_maximised = maximised;
            m_saveTimer.start();
        }
    }
    return false;
}
