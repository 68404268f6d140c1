#include "query/ui/FrmMain.h"

#include "common/NetworkTransport.h"
#include "common/Version.h"
#include "common/ui/Dialogs.h"
#include "common/ui/WindowKit.h"
#include "query/SessionPostClient.h"
#include "query/ui/AccountEdit.h"
#include "query/ui/JournalController.h"
#include "query/ui/LayoutMemory.h"
#include "query/ui/MainControls.h"
#include "query/ui/PonSummaryController.h"
#include "query/ui/ResultModel.h"
#include "query/ui/RowMarker.h"
#include "query/ui/RunWiring.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QNetworkAccessManager>
#include <QTreeView>

#include <utility>

using namespace Qt::StringLiterals;

FrmMain::FrmMain(const CookieSource* cookies, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_thresholds(Thresholds::fromIni(Thresholds::iniPath())), m_network(new QNetworkAccessManager(this)),
      m_transport(std::make_unique<net::NetworkTransport>(m_network)),
      m_client(new SessionPostClient(m_transport.get(), cookies, this)),
      m_run(new QueryRun(m_client, nullptr, this)),
      m_marker(std::make_unique<RowMarker>(m_run, &m_thresholds)),
      m_model(new ResultModel(m_run, m_marker.get(), this)),
      m_controls(std::make_unique<MainControls>(this, m_model)),
      m_wiring(new RunWiring(this, m_controls.get(), m_run, m_model, &m_thresholds)),
      m_faults(new PonSummaryController(this, m_controls.get(), m_run, m_marker.get(), m_model, m_wiring,
                                        &m_thresholds, FaultRules::fromIni(Thresholds::iniPath()))) {
    setObjectName(u"FrmMain"_s);
    setWindowTitle(u"Vesmora V"_s + installedVersion());
    m_layout = std::make_unique<LayoutMemory>(this, m_controls->LstV->header());
    m_wiring->setPortSource([this] { return m_faults->summary(); });
    connect(m_wiring, &RunWiring::signInNeeded, this, &FrmMain::signInNeeded);
    connect(m_wiring, &RunWiring::signInWindowWanted, this, &FrmMain::signInWindowWanted);
}

FrmMain::~FrmMain() = default;

QString FrmMain::accountText() const {
    return m_controls->TxtZh->accountText();
}

QStringList FrmMain::headerTexts() const {
    return m_controls->headerTexts();
}

QList<QStringList> FrmMain::rowTexts() const {
    QList<QStringList> rows;
    rows.reserve(m_run->rowCount());
    for (const QueryRun::Row& row : m_run->rows())
        rows << QStringList(row.begin(), row.end());
    return rows;
}

void FrmMain::sessionRenewed() {
    m_run->resumeSession();
    if (m_run->awaitsSignIn())
        emit signInWindowWanted();
}

bool FrmMain::continueSavedRows(const QList<QueryRun::SavedRow>& rows, int rate) {
    return m_wiring->resume(rows, rate);
}

void FrmMain::attachJournal(RunJournal* journal, TeamStore* store, TeamSync* sync) {
    if (!m_journalController)
        m_journalController = new JournalController(this, m_controls.get(), m_run, m_marker.get(), m_model,
                                                    m_wiring, journal, store, sync);
}

bool FrmMain::restoreJournalRun(const journal::RestoredRun& stored) {
    return m_journalController && m_journalController->restore(stored);
}

bool FrmMain::confirmExit(QWidget* asker) {
    if (m_exitConfirmed)
        return true;
    m_run->hold();
    const auto answer = dialogs::message(asker ? asker : this, QMessageBox::Information, u"是否确认退出"_s,
                                         QMessageBox::Yes | QMessageBox::No);
    m_run->release();
    m_exitConfirmed = answer == QMessageBox::Yes;
    return m_exitConfirmed;
}

// Asked once: the end of the program closes this window again, which must not ask twice.
void FrmMain::closeEvent(QCloseEvent* event) {
    if (!confirmExit()) {
        event->ignore();
        return;
    }
    event->accept();
    emit programEndRequested();
}

// Whatever size was remembered (another screen, a larger one), the window opens inside the screen
// it opens on, title bar and buttons in view.
void FrmMain::showEvent(QShowEvent* event) {
    if (!std::exchange(m_placed, true))
        fitOnScreen(this, MainControls::smallestSize());
    QWidget::showEvent(event);
}
