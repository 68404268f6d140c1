#pragma once

#include <QObject>
#include <QSize>
#include <QTimer>

class QHeaderView;
class QWidget;

// Remembers the main window's size (and whether it was maximised) and the list's column widths in
// the user's settings, and brings them back when the window is made. Changes are written shortly
// after they stop, and at the latest when the window goes.
class LayoutMemory : public QObject {
    Q_OBJECT

public:
    LayoutMemory(QWidget* window, QHeaderView* header);
    ~LayoutMemory() override;

    // An INI file in the user's data folder (AppLocalDataLocation), never in the program folder.
    static QString settingsPath();
    // Another file instead (tests, which may run side by side); empty: the user's again.
    static void setSettingsPathOverride(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restore();
    void save();

    QWidget* m_window;
    QHeaderView* m_header;
    QSize m_normalSize;
    bool m_maximised = false;
    bool m_restoring = false;
    QTimer m_saveTimer;
};
