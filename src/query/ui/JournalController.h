#pragma once

#include "journal/JournalTypes.h"

#include <QObject>

class JournalLink;
class QWidget;
class QueryRun;
class ResultModel;
class RowMarker;
class RunJournal;
class RunWiring;
struct MainControls;

// Joins the main window to the run journal: every run is recorded row by row, finished rows get
// their drop marks, "查看历史" opens the current row's account over time, the export gets its
// "历史" sheet, and a run cut short can be put back on the list to go on.
class JournalController : public QObject {
    Q_OBJECT

public:
    JournalController(QWidget* window, const MainControls* controls, QueryRun* run, RowMarker* marker,
                      ResultModel* model, RunWiring* wiring, RunJournal* journal);

    // The list shows the stored run as it was, and the rows it had not finished are asked at its
    // rate, in the same journal run. false while a run is going.
    bool restore(const journal::RestoredRun& stored);

private:
    void showHistory();
    void setPreviousReading(int row, const journal::Reading& previous);

    QWidget* m_window;
    const MainControls* m_c;
    QueryRun* m_run;
    RowMarker* m_marker;
    ResultModel* m_model;
    RunWiring* m_wiring;
    RunJournal* m_journal;
    JournalLink* m_link;
};
