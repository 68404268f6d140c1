#include "query/ui/HistoryWindow.h"

#include "query/ui/HistoryChart.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

HistoryWindow::HistoryWindow(const QString& account, const QList<journal::Reading>& readings, QWidget* parent)
    : QWidget(parent, Qt::Window), m_chart(new HistoryChart(this)), m_table(new QTableWidget(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(titleFor(account));
    m_chart->setObjectName(u"historyChart"_s);
    m_table->setObjectName(u"historyTable"_s);

    QList<journal::Reading> newestFirst = readings;
    std::stable_sort(
        newestFirst.begin(), newestFirst.end(),
        [](const journal::Reading& a, const journal::Reading& b) { return a.takenAt > b.takenAt; });
    m_chart->setReadings(newestFirst);

    const QStringList headers{u"时间"_s,
                              u"光猫接收光功率(dB)"_s,
                              u"光猫发送光功率(dB)"_s,
                              u"OLT接收光功率(dB)"_s,
                              u"OLT发送光功率(dB)"_s,
                              u"查询人"_s};
    m_table->setColumnCount(int(headers.size()));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setRowCount(int(newestFirst.size()));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    for (int row = 0; row < newestFirst.size(); ++row) {
        const journal::Reading& reading = newestFirst[row];
        m_table->setItem(
            row, 0, new QTableWidgetItem(reading.takenAt.toLocalTime().toString(u"yyyy-MM-dd HH:mm:ss"_s)));
        for (int i = 0; i < 4; ++i)
            m_table->setItem(row, 1 + i, new QTableWidgetItem(reading.values[size_t(i)]));
        m_table->setItem(row, 5, new QTableWidgetItem(reading.takenBy));
    }
    m_table->resizeColumnsToContents();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_chart, 3);
    layout->addWidget(m_table, 2);
    resize(640, 520);
}

QString HistoryWindow::titleFor(const QString& account) {
    return u"历史读数 - "_s + account;
}
