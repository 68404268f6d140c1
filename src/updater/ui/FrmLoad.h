#pragma once

#include "updater/UpdaterTiming.h"

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class UpdaterFlow;

// The updater's only window: shows the versions and the notes while the pass runs. The close
// spot in the top-right corner ends the program at once, whatever step the pass is at.
class FrmLoad : public QWidget {
    Q_OBJECT

public:
    explicit FrmLoad(const QString& programFolder, QWidget* parent = nullptr);

    void setTiming(const UpdaterTiming& timing) { m_timing = timing; }
    void setStepHook(std::function<void(int)> hook) { m_stepHook = std::move(hook); }
    UpdaterFlow* flow() const { return m_flow; }

    // Reads the manifest, lays out the labels, shows the window and starts the pass.
    void start();

signals:
    void ended(); // the program ends now

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_folder;
    UpdaterTiming m_timing;
    std::function<void(int)> m_stepHook;
    QPixmap m_backdrop;
    QLabel* m_labUpTxt;
    QLabel* m_labOldVer;
    QLabel* m_labNewVer;
    QLabel* m_labEnd;
    UpdaterFlow* m_flow = nullptr;
};
