#include "query/ui/RunWiring.h"

#include "common/ui/Dialogs.h"
#include "query/Thresholds.h"
#include "query/XlsxExport.h"
#include "query/ui/AccountEdit.h"
#include "query/ui/ExportFlow.h"
#include "query/ui/MainControls.h"
#include "query/ui/ResultModel.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>

#include <utility>

RunWiring::RunWiring(QWidget* window, const MainControls* controls, QueryRun* run, ResultModel* rows,
                     const Thresholds* thresholds)
    : QObject(window), m_window(window), m_c(controls), m_run(run), m_rows(rows), m_thresholds(thresholds) {
    connect(m_rows, &ResultModel::flushed, this, [this] {
        if (m_progressDue)
            showProgress();
    });
    QComboBox* rate = m_c->COBNUM;
    m_run->setRateSource([rate] { return rate->currentText().toInt(); });
    connect(m_c->CmdStart, &QPushButton::clicked, this, &RunWiring::onStartClicked);
    connect(m_c->CmdStop, &QPushButton::clicked, this, &RunWiring::onStopClicked);
    connect(m_c->CmdSave, &QPushButton::clicked, this, &RunWiring::onSaveClicked);
    connect(m_c->CmdSignIn, &QPushButton::clicked, this, &RunWiring::signInWindowWanted);
    connect(m_c->mnuRetry, &QAction::triggered, m_run, &QueryRun::retryFailed);
    connect(m_run, &QueryRun::started, this, &RunWiring::onStarted);
    connect(m_run, &QueryRun::rowDone, this, &RunWiring::onRowDone);
    // Only the user's own scrolling (wheel, bar, keys) decides; the list's own moves do not.
    QScrollBar* bar = m_c->LstV->verticalScrollBar();
    connect(bar, &QScrollBar::actionTriggered, this, [this] { m_userScroll = true; });
    connect(bar, &QScrollBar::valueChanged, this, &RunWiring::onListScrolled);
    m_c->LstV->installEventFilter(this);
    // Whenever the run comes to a wait, the list and the bar show where it stands.
    connect(m_run, &QueryRun::sessionLost, this, &RunWiring::showProgress);
    connect(m_run, &QueryRun::failureStreak, this, &RunWiring::showProgress);
    connect(m_run, &QueryRun::paused, this, &RunWiring::showProgress);
    connect(m_run, &QueryRun::paused, this, [this](const QString& text) {
        m_c->LabTip->setText(text);
        m_c->LabTip->adjustSize();
        showFrame(m_c->LabTip);
    });
    connect(m_run, &QueryRun::resumed, m_c->Frame1, &QWidget::hide);
    connect(m_run, &QueryRun::sessionLost, this, &RunWiring::onSessionLost);
    connect(m_run, &QueryRun::failureStreak, this, &RunWiring::onFailureStreak);
    connect(m_run, &QueryRun::finished, this, &RunWiring::onFinished);
}

bool RunWiring::resume(const QList<QueryRun::SavedRow>& rows, int rate) {
    if (m_run->isRunning())
        return false;
    const QString text = QString::number(rate);
    if (m_c->COBNUM->findText(text) < 0)
        m_c->COBNUM->addItem(text);
    m_c->COBNUM->setCurrentIndex(m_c->COBNUM->findText(text));
    return m_run->resume(rows);
}

void RunWiring::onStartClicked() {
    if (!m_run->start(m_c->TxtZh->accountText())) {
        dialogs::message(m_window, QMessageBox::Information, QueryRun::emptyInputMessage());
        m_c->TxtZh->setFocus();
    }
}

void RunWiring::onStopClicked() {
    m_run->stop();
    m_c->CmdStop->setEnabled(false);
    if (m_question)
        m_question->close();
}

// The run waits while the export asks its questions, so the file holds the rows of the click and
// no end-of-run message pops up over the dialogs.
void RunWiring::onSaveClicked() {
    m_run->hold();
    SheetMarks marks;
    marks.thresholds = *m_thresholds;
    const int count = m_run->rowCount();
    marks.failedRows.reserve(count);
    marks.comments.reserve(count);
    for (int row = 0; row < count; ++row) {
        const QString failure = m_run->failureReason(row);
        marks.failedRows << !failure.isEmpty();
        const QString unreached = m_run->unreachedReason(row);
        marks.comments << (unreached.isEmpty() ? failure : unreached);
    }
    // The run's cells, not the list's: an unreached row's "未查询" is a mark, not a value.
    QList<QStringList> rows;
    rows.reserve(count);
    for (const QueryRun::Row& row : m_run->rows())
        rows << QStringList(row.begin(), row.end());
    QList<journal::Reading> history;
    if (m_history) {
        QStringList accounts;
        accounts.reserve(rows.size());
        for (const QStringList& row : rows)
            accounts << row.value(QueryRun::Account);
        history = m_history(accounts);
    }
    exportList(m_window, m_c->headerTexts(), rows, marks, history, m_ports ? m_ports() : QList<PonPort>());
    m_run->release();
}

void RunWiring::onStarted(int total) {
    setIdleControls(false);
    m_following = true;
    m_newest = -1;
    m_done = 0;
    // A maximum of 0 is not taken: an empty run leaves the bar as it was.
    if (total > 0) {
        m_c->Prg->setMaximum(total);
        m_c->Prg->setValue(0);
        m_c->Prg->setFormat(QStringLiteral("%v/%m"));
        m_c->Prg->setTextVisible(true);
    }
    m_c->CmdStop->setEnabled(true);
}

void RunWiring::onRowDone(int row, int done) {
    m_newest = row;
    m_done = done;
    m_progressDue = true;
    m_rows->scheduleFlush();
}

void RunWiring::showProgress() {
    m_progressDue = false;
    // A scroll by the user that did not move the bar (already at its end) counts all the same.
    if (m_userScroll)
        onListScrolled();
    if (m_newest >= 0 && m_following)
        m_c->LstV->scrollTo(m_rows->index(m_newest, 0));
    m_c->Prg->setValue(m_done);
}

void RunWiring::onListScrolled() {
    if (!std::exchange(m_userScroll, false) || m_newest < 0 || !m_run->isRunning())
        return;
    const QRect newest = m_c->LstV->visualRect(m_rows->index(m_newest, 0));
    m_following = newest.isValid() && m_c->LstV->viewport()->rect().intersects(newest);
}

// While a run fills the list nothing can be selected, so the keys that would move the current row
// scroll the list as its scroll bars do, and count as the user's scrolling.
bool RunWiring::eventFilter(QObject* watched, QEvent* event) {
    // The type first: the window's controls are gone while it hides its children on the way out.
    if (event->type() != QEvent::KeyPress || watched != m_c->LstV || !m_run->isRunning())
        return false;
    using Slider = QAbstractSlider;
    static const struct {
        int key;
        bool vertical;
        Slider::SliderAction action;
    } keys[] = {{Qt::Key_Up, true, Slider::SliderSingleStepSub},
                {Qt::Key_Down, true, Slider::SliderSingleStepAdd},
                {Qt::Key_PageUp, true, Slider::SliderPageStepSub},
                {Qt::Key_PageDown, true, Slider::SliderPageStepAdd},
                {Qt::Key_Home, true, Slider::SliderToMinimum},
                {Qt::Key_End, true, Slider::SliderToMaximum},
                {Qt::Key_Left, false, Slider::SliderSingleStepSub},
                {Qt::Key_Right, false, Slider::SliderSingleStepAdd}};
    for (const auto& k : keys) {
        if (k.key == static_cast<QKeyEvent*>(event)->key()) {
            (k.vertical ? m_c->LstV->verticalScrollBar() : m_c->LstV->horizontalScrollBar())
                ->triggerAction(k.action);
            return true;
        }
    }
    return false;
}

void RunWiring::showFrame(QLabel* visible) {
    m_c->LabTip->setVisible(visible == m_c->LabTip);
    m_c->LabSession->setVisible(visible == m_c->LabSession);
    m_c->CmdSignIn->setVisible(visible == m_c->LabSession);
    m_c->Frame1->show();
}

// A notice, not a question: nothing waits for a click, and Stop stays at hand.
void RunWiring::onSessionLost() {
    showFrame(m_c->LabSession);
    emit signInNeeded();
}

void RunWiring::onFailureStreak() {
    m_question =
        dialogs::ask(m_window, QMessageBox::Question, QueryRun::failureStreakQuestion(),
                     QMessageBox::Yes | QMessageBox::No, this, [this](QMessageBox::StandardButton answer) {
                         if (answer == QMessageBox::Yes)
                             m_run->continueAfterFailures();
                         else if (m_run->awaitsAnswer())
                             onStopClicked();
                     });
}

void RunWiring::onFinished(const QString& message) {
    if (m_question)
        m_question->close();
    showProgress();
    setIdleControls(true);
    m_c->Prg->setValue(0);
    // The bar stands at 0 as before; its text now tells how the list stands.
    m_c->Prg->setFormat(m_run->summary());
    m_c->Prg->setTextVisible(true);
    m_c->Frame1->hide();
    dialogs::message(m_window, QMessageBox::Information, message);
}

// The list stays readable during a run: it scrolls, but nothing can be selected.
void RunWiring::setIdleControls(bool idle) {
    m_c->LstV->setSelectionMode(idle ? QAbstractItemView::SingleSelection : QAbstractItemView::NoSelection);
    if (!idle)
        m_c->LstV->clearSelection();
    m_c->CmdStart->setEnabled(idle);
    if (idle)
        m_c->CmdStop->setEnabled(false);
    m_c->COBNUM->setEnabled(idle);
    m_c->mnuRetry->setEnabled(idle && m_run->failedRowCount() + m_run->unreachedRowCount() > 0);
}
