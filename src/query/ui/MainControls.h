#pragma once

#include <QList>
#include <QSize>
#include <QStringList>

class AccountEdit;
class QAbstractItemModel;
class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;
class QWidget;

// The controls of the main window, built on it at their fixed places, with their captions, fonts,
// rate entries and tab order. Each carries its name as object name (TxtZh, LstV, CmdStart, ...).
// The result list shows `rows`.
struct MainControls {
    MainControls(QWidget* window, QAbstractItemModel* rows);

    QStringList headerTexts() const;
    // The team database's line at the right end of the bar row; the bar gives it the room.
    void showTeamLine() const;
    // The least a small screen may shrink the window to: the bottom row still whole, the list a few
    // rows high. The first size is the smallest anywhere else.
    static QSize smallestSize();

    QLabel* Label1;
    AccountEdit* TxtZh;
    QLabel* Label2;
    QTreeView* LstV;
    QFrame* Frame1; // over the middle of the list: the rate pause or the lost session
    QLabel* LabTip;
    QLabel* LabSession;
    QPushButton* CmdSignIn;
    QProgressBar* Prg;
    QLabel* LabTeam; // "团队库：…", only with a team database
    QLabel* Label3;
    QComboBox* COBNUM;
    QLabel* Label4;
    QPushButton* CmdStart;
    QPushButton* CmdStop;
    QPushButton* CmdSave;
    QAction* mnuRetry;
    QAction* mnuHistory;    // the current row's account over time
    QAction* mnuPonSummary; // the list's lines by PON port and splitter
};
