#pragma once

#include "journal/JournalTypes.h"

#include <QDateTime>
#include <QHash>
#include <QObject>

class JournalLink;
class ListHistory;
class TeamStore;
class TeamSync;
class QWidget;
class QueryRun;
class ResultModel;
class RowMarker;
class RunJournal;
class RunWiring;
struct MainControls;

// Joins the main window to the run journal: every run is recorded row by row, finished rows get
// their drop marks, "查看历史" opens the current row's account over time, the export gets its
// "历史" sheet, and a run cut short can be put back on the list to go on. With a team database
// (store and sync), its readings join the history (ListHistory) and a line beside the bar says
// how the team database stands.
class JournalController : public QObject {
    Q_OBJECT

public:
    // store and sync: both null without a team database.
    JournalController(QWidget* window, const MainControls* controls, QueryRun* run, RowMarker* marker,
                      ResultModel* model, RunWiring* wiring, RunJournal* journal, TeamStore* store,
                      TeamSync* sync);

    // The list shows the stored run as it was, and the rows it had not finished are asked at its
    // rate, in the same journal run. false while a run is going.
    bool restore(const journal::RestoredRun& stored);

private:
    void showHistory();
    void setPreviousReading(int row, const journal::Reading& previous);
    // The team's readings came: every recorded row is compared again with what came before it.
    void markAgain();
    void showTeamStatus();

    QWidget* m_window;
    const MainControls* m_c;
    QueryRun* m_run;
    RowMarker* m_marker;
    ResultModel* m_model;
    RunWiring* m_wiring;
    TeamSync* m_sync;
    ListHistory* m_history;
    JournalLink* m_link;
    QHash<int, QDateTime> m_recordedAt; // the list's rows with a reading, when it was taken
};
