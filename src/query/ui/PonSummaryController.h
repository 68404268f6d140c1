#pragma once

#include "query/PonSummary.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class PonSummaryWindow;
class QWidget;
class QueryRun;
class ResultModel;
class RowMarker;
class RunWiring;
struct MainControls;

// Joins the result list to its PON port summary: "PON口汇总" in the list's context menu opens the
// window, which follows the list at most once a second; a port double-clicked there is selected
// in the list; the export asks summary() for its sheet.
class PonSummaryController : public QObject {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;

    // rules: read by the caller, as the thresholds are.
    PonSummaryController(QWidget* window, const MainControls* controls, const QueryRun* run,
                         const RowMarker* marker, ResultModel* model, RunWiring* wiring,
                         const Thresholds* thresholds, const FaultRules& rules);

    // The list as it stands, done rows only, with the drop marks the list shows.
    QList<PonPort> summary() const;

private:
    void open();
    void refresh();
    void scheduleRefresh();
    void selectRows(const QList<int>& rows);

    QWidget* m_window;
    const MainControls* m_c;
    const QueryRun* m_run;
    const RowMarker* m_marker;
    ResultModel* m_model;
    RunWiring* m_wiring;
    const Thresholds* m_thresholds;
    FaultRules m_rules;
    QPointer<PonSummaryWindow> m_summaryWindow;
    QTimer m_refresh;
    QElapsedTimer m_sinceRefresh;
};
