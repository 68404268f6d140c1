#include "query/JournalLink.h"

#include "journal/RunJournal.h"
#include "query/QueryRun.h"

#include <QDateTime>

#include <algorithm>

JournalLink::JournalLink(QueryRun* run, RunJournal* journal, std::function<int()> rate, QObject* parent)
    : QObject(parent), m_run(run), m_journal(journal), m_rate(std::move(rate)) {
    connect(run, &QueryRun::rowsBuilt, this, [this] { m_newList = true; });
    connect(run, &QueryRun::started, this, &JournalLink::onStarted);
    connect(run, &QueryRun::rowDone, this, [this](int row) { onRowDone(row); });
    connect(run, &QueryRun::finished, this, &JournalLink::onFinished);
    run->setStartLog(this);
}

JournalLink::~JournalLink() {
    if (m_run)
        m_run->setStartLog(nullptr);
}

QString JournalLink::restoreQuestion(const journal::UnfinishedRun& run) {
    return QStringLiteral("上次查询未完成（已完成 %1/%2），是否继续?").arg(run.done).arg(run.total);
}

void JournalLink::adopt(qint64 journalRun) {
    m_journalRun = journalRun;
    m_adopted = true;
}

void JournalLink::onStarted() {
    if (m_adopted) {
        m_adopted = false;
    } else if (m_newList || m_journalRun == 0) {
        QStringList accounts;
        for (const QueryRun::Row& row : m_run->rows())
            accounts << row[QueryRun::Account];
        m_journalRun = m_journal->startRun(accounts, m_rate ? m_rate() : 0, QDateTime::currentDateTimeUtc());
    } else {
        m_journal->reopenRun(m_journalRun); // a retry of the rows that failed or were not reached
    }
    m_newList = false;
}

void JournalLink::onRowDone(int row) {
    if (m_journalRun == 0 || row < 0 || row >= m_run->rowCount())
        return;
    const QueryRun::Row cells = m_run->row(row);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto previous = m_previous ? m_previous(cells[QueryRun::Account], now)
                                     : m_journal->previousReading(cells[QueryRun::Account], now);
    m_journal->recordRow(m_journalRun, row, QStringList(cells.begin(), cells.end()), m_run->failureReason(row), now);
    if (previous)
        emit previousReading(row, *previous);
    emit rowRecorded(row, now);
}

QList<qint64> JournalLink::recentStartAges() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<qint64> ages;
    for (const QDateTime& start : m_journal->rowStartsSince(now.addMSecs(-RatePace::kWindowMs)))
        ages << std::max<qint64>(start.msecsTo(now), 0);
    return ages;
}

void JournalLink::recordStart() {
    m_journal->recordRowStart(QDateTime::currentDateTimeUtc());
}

void JournalLink::onFinished(const QString& message) {
    if (m_journalRun != 0)
        m_journal->endRun(m_journalRun, message == QueryRun::stoppedMessage() ? journal::RunState::Stopped
                                                                              : journal::RunState::Finished);
}
