#include "query/ui/FrmMain.h"

#include "common/NetworkTransport.h"
#include "common/Version.h"
#include "common/ui/Dialogs.h"
#include "common/ui/Fonts.h"
#include "query/QueryRun.h"
#include "query/SessionPostClient.h"
#include "query/XlsxExport.h"
#include "query/ui/AccountEdit.h"
#include "query/ui/ElidingHeader.h"
#include "query/ui/ExportFlow.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The layout, in twips at 15 per pixel: left, top, width, height.
struct Twips {
    int left, top, width, height;
    QRect pixels() const {
        const auto px = [](int twips) { return qRound(twips / 15.0); };
        return QRect(px(left), px(top), px(width), px(height));
    }
};
constexpr Twips kLabel1{240, 75, 810, 180};
constexpr Twips kTxtZh{75, 360, 1770, 6480};
constexpr Twips kLabel2{2040, 75, 900, 180};
constexpr Twips kLstV{1980, 360, 9540, 6465};
constexpr Twips kFrame1{4275, 2745, 5235, 825};
constexpr Twips kLabTip{1845, 360, 1260, 180}; // within Frame1
constexpr Twips kPrg{75, 6930, 11415, 240};
constexpr Twips kLabel3{315, 7605, 900, 180};
constexpr Twips kCOBNUM{1305, 7560, 870, 300};
constexpr Twips kLabel4{2250, 7605, 630, 180};
constexpr Twips kCmdStart{3840, 7455, 1440, 465};
constexpr Twips kCmdStop{5587, 7470, 1440, 465};
constexpr Twips kCmdSave{7335, 7455, 1440, 465};
constexpr QSize kClientSize{774, 541};
constexpr int kColumnTwips[] = {1440, 2200, 1200, 1200, 1200, 1200, 2000, 1200, 1440, 1440, 3440};

const QString kSongti = u"宋体"_s;

template <typename T> T* named(T* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* label(QWidget* parent, const QString& name, const QString& text, const Twips& place) {
    auto* l = named(new QLabel(text, parent), name);
    l->setGeometry(place.pixels());
    l->adjustSize();
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text, const Twips& place) {
    auto* b = named(new QPushButton(text, parent), name);
    b->setGeometry(place.pixels());
    return b;
}

QColor rgb(quint32 value) {
    return QColor::fromRgb(QRgb(value));
}

} // namespace

FrmMain::FrmMain(const CookieSource* cookies, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_thresholds(Thresholds::fromIni(Thresholds::iniPath())), m_network(new QNetworkAccessManager(this)),
      m_transport(std::make_unique<net::NetworkTransport>(m_network)),
      m_client(new SessionPostClient(m_transport.get(), cookies, this)),
      m_run(new QueryRun(m_client, nullptr, this)) {
    setObjectName(u"FrmMain"_s);
    setFixedSize(kClientSize);
    setFont(cjkFont(kSongti, 9));
    setWindowTitle(u"Vesmora V"_s + installedVersion());

    Label1 = label(this, u"Label1"_s, u"209帐号："_s, kLabel1);
    TxtZh = named(new AccountEdit(this), u"TxtZh"_s);
    TxtZh->setGeometry(kTxtZh.pixels());
    TxtZh->setFont(cjkFont(kSongti, 10.5));
    TxtZh->setToolTip(u"一行一个209帐号"_s);
    TxtZh->setLineWrapMode(QPlainTextEdit::NoWrap);
    TxtZh->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Label2 = label(this, u"Label2"_s, u"查询结果："_s, kLabel2);
    LstV = named(new QTreeWidget(this), u"LstV"_s);
    LstV->setGeometry(kLstV.pixels());
    LstV->setFont(cjkFont(kSongti, 9));
    LstV->setRootIsDecorated(false);
    LstV->setUniformRowHeights(true);
    LstV->setSelectionBehavior(QAbstractItemView::SelectRows);
    LstV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LstV->setHeader(new ElidingHeader(LstV));
    LstV->setHeaderLabels({u"209帐号"_s, u"结果"_s, u"光猫接收光功率(dB)"_s, u"光猫发送光功率(dB)"_s,
                           u"OLT接收光功率(dB)"_s, u"OLT发送光功率(dB)"_s, u"所属EMS"_s, u"OLT IP"_s,
                           u"OLT PON"_s, u"激活LOID"_s, u"分光器名称"_s});
    // A face wider than 宋体 does not fit the fixed widths: cut with "…", the whole text in the tip.
    for (int i = 0; i < QueryRun::kColumnCount; ++i) {
        LstV->setColumnWidth(i, qRound(kColumnTwips[i] / 15.0));
        LstV->headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
        LstV->headerItem()->setToolTip(i, LstV->headerItem()->text(i));
    }
    LstV->header()->setStretchLastSection(false);
    mnuRetry = named(new QAction(u"重新查询失败的行"_s, LstV), u"mnuRetry"_s);
    mnuRetry->setEnabled(false);
    LstV->addAction(mnuRetry);
    LstV->setContextMenuPolicy(Qt::ActionsContextMenu);

    // Lies over the middle of the list; shown while the rate limit pauses or the session is lost.
    Frame1 = named(new QFrame(this), u"Frame1"_s);
    Frame1->setGeometry(kFrame1.pixels());
    Frame1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Frame1->setLineWidth(2);
    Frame1->setAutoFillBackground(true);
    LabTip = label(Frame1, u"LabTip"_s, u"限速暂停中……"_s, kLabTip);
    LabSession = label(Frame1, u"LabSession"_s, QueryRun::sessionLostNotice(), kLabTip);
    CmdSignIn = named(new QPushButton(u"重新登录"_s, Frame1), u"CmdSignIn"_s);
    CmdSignIn->setGeometry(Frame1->width() - 8 - 76, (Frame1->height() - 26) / 2, 76, 26);
    LabSession->setGeometry(Frame1->rect().adjusted(8, 4, -8 - 76 - 6, -4));
    LabSession->setAlignment(Qt::AlignCenter);
    LabSession->setWordWrap(true);
    for (QLabel* l : {LabTip, LabSession})
        l->setStyleSheet(u"color: red;"_s);
    LabSession->hide();
    CmdSignIn->hide();
    Frame1->hide();
    Frame1->raise();

    Prg = named(new QProgressBar(this), u"Prg"_s);
    Prg->setGeometry(kPrg.pixels());
    Prg->setTextVisible(false);
    Prg->setFormat(u"%v/%m"_s);
    Prg->setAlignment(Qt::AlignCenter);
    Prg->setRange(0, 100);
    Prg->setValue(0);

    Label3 = label(this, u"Label3"_s, u"查询限速："_s, kLabel3);
    COBNUM = named(new QComboBox(this), u"COBNUM"_s);
    COBNUM->setGeometry(kCOBNUM.pixels());
    COBNUM->setToolTip(u"速度太快移动服务器会冒烟，要通报关帐号"_s);
    for (const char* rate : {"10", "15", "20", "25", "30", "35", "40", "45", "50", "55", "60", "70", "80",
                             "90", "100", "110", "120", "150", "200"})
        COBNUM->addItem(QString::fromLatin1(rate));
    COBNUM->setCurrentIndex(4);
    Label4 = label(this, u"Label4"_s, u"个/分钟"_s, kLabel4);

    CmdStart = button(this, u"CmdStart"_s, u"开始查询(&R)"_s, kCmdStart);
    CmdStop = button(this, u"CmdStop"_s, u"停止(&T)"_s, kCmdStop);
    CmdSave = button(this, u"CmdSave"_s, u"导出结果(&S)"_s, kCmdSave);
    CmdStop->setEnabled(false);

    setTabOrder(CmdSave, CmdStart);
    setTabOrder(CmdStart, LstV);
    setTabOrder(LstV, TxtZh);
    setTabOrder(TxtZh, COBNUM);
    setTabOrder(COBNUM, CmdStop);

    m_run->setRateSource([this] { return COBNUM->currentText().toInt(); });
    connect(CmdStart, &QPushButton::clicked, this, &FrmMain::onStartClicked);
    connect(CmdStop, &QPushButton::clicked, this, &FrmMain::onStopClicked);
    connect(CmdSave, &QPushButton::clicked, this, &FrmMain::onSaveClicked);
    connect(mnuRetry, &QAction::triggered, this, &FrmMain::onRetryTriggered);
    connect(CmdSignIn, &QPushButton::clicked, this, &FrmMain::signInWindowWanted);
    connect(m_run, &QueryRun::rowsBuilt, this, &FrmMain::onRowsBuilt);
    connect(m_run, &QueryRun::started, this, &FrmMain::onStarted);
    connect(m_run, &QueryRun::cellChanged, this, [this](int row, int column, const QString& text) {
        if (QTreeWidgetItem* item = LstV->topLevelItem(row)) {
            item->setText(column, text);
            markCell(item, row, column);
        }
    });
    connect(m_run, &QueryRun::rowFailureChanged, this, [this](int row) { markRow(row); });
    connect(m_run, &QueryRun::rowDone, this, &FrmMain::onRowDone);
    connect(m_run, &QueryRun::paused, this, [this](const QString& text) {
        LabTip->setText(text);
        LabTip->adjustSize();
        showFrame(LabTip);
    });
    connect(m_run, &QueryRun::resumed, Frame1, &QWidget::hide);
    connect(m_run, &QueryRun::sessionLost, this, &FrmMain::onSessionLost);
    connect(m_run, &QueryRun::failureStreak, this, &FrmMain::onFailureStreak);
    connect(m_run, &QueryRun::finished, this, &FrmMain::onFinished);
}

FrmMain::~FrmMain() = default;

QString FrmMain::accountText() const {
    QString text = TxtZh->toPlainText();
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), u"\r\n"_s);
    return text;
}

QStringList FrmMain::headerTexts() const {
    QStringList headers;
    const QTreeWidgetItem* header = LstV->headerItem();
    for (int i = 0; i < header->columnCount(); ++i)
        headers << header->text(i);
    return headers;
}

QList<QStringList> FrmMain::rowTexts() const {
    QList<QStringList> rows;
    rows.reserve(LstV->topLevelItemCount());
    for (int r = 0; r < LstV->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* item = LstV->topLevelItem(r);
        QStringList cells;
        for (int c = 0; c < LstV->columnCount(); ++c)
            cells << item->text(c);
        rows << cells;
    }
    return rows;
}

void FrmMain::sessionRenewed() {
    m_run->resumeSession();
    if (m_run->awaitsSignIn())
        emit signInWindowWanted();
}

bool FrmMain::resumeRun(const QList<QueryRun::SavedRow>& rows, int rate) {
    if (m_run->isRunning())
        return false;
    const QString text = QString::number(rate);
    if (COBNUM->findText(text) < 0)
        COBNUM->addItem(text);
    COBNUM->setCurrentIndex(COBNUM->findText(text));
    return m_run->resume(rows);
}

void FrmMain::onStartClicked() {
    if (!m_run->start(accountText())) {
        dialogs::message(this, QMessageBox::Information, QueryRun::emptyInputMessage());
        TxtZh->setFocus();
    }
}

void FrmMain::onStopClicked() {
    m_run->stop();
    CmdStop->setEnabled(false);
    if (m_question)
        m_question->close();
}

void FrmMain::onRetryTriggered() {
    m_run->retryFailed();
}

// The run waits while the export asks its questions, so the file holds the rows of the click and
// no end-of-run message pops up over the dialogs.
void FrmMain::onSaveClicked() {
    m_run->hold();
    SheetMarks marks;
    marks.thresholds = m_thresholds;
    const int count = LstV->topLevelItemCount();
    marks.failedRows.reserve(count);
    for (int row = 0; row < count; ++row)
        marks.failedRows << !m_run->failureReason(row).isEmpty();
    exportList(this, headerTexts(), rowTexts(), marks);
    m_run->release();
}

void FrmMain::onRowsBuilt(int count) {
    LstV->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(count);
    const auto& rows = m_run->rows();
    for (int i = 0; i < count && i < rows.size(); ++i)
        items << new QTreeWidgetItem(QStringList(rows[i].begin(), rows[i].end()));
    LstV->addTopLevelItems(items);
    // Rows of a resumed run come with their readings and failures.
    for (int i = 0; i < items.size(); ++i) {
        const auto& cells = rows[i];
        if (!m_run->failureReason(i).isEmpty() ||
            std::any_of(cells.begin() + 1, cells.end(), [](const QString& c) { return !c.isEmpty(); }))
            markRow(i);
    }
}

void FrmMain::onStarted(int total) {
    setIdleControls(false);
    // A maximum of 0 is not taken: an empty run leaves the bar as it was.
    if (total > 0) {
        Prg->setMaximum(total);
        Prg->setValue(0);
        Prg->setTextVisible(true);
    }
    CmdStop->setEnabled(true);
}

void FrmMain::onRowDone(int row, int done) {
    if (QTreeWidgetItem* item = LstV->topLevelItem(row))
        LstV->scrollToItem(item);
    Prg->setValue(done);
}

void FrmMain::showFrame(QLabel* visible) {
    LabTip->setVisible(visible == LabTip);
    LabSession->setVisible(visible == LabSession);
    CmdSignIn->setVisible(visible == LabSession);
    Frame1->show();
}

// A notice, not a question: nothing waits for a click, and Stop stays at hand.
void FrmMain::onSessionLost() {
    showFrame(LabSession);
    emit signInNeeded();
}

void FrmMain::onFailureStreak() {
    m_question =
        dialogs::ask(this, QMessageBox::Question, QueryRun::failureStreakQuestion(),
                     QMessageBox::Yes | QMessageBox::No, this, [this](QMessageBox::StandardButton answer) {
                         if (answer == QMessageBox::Yes)
                             m_run->continueAfterFailures();
                         else if (m_run->awaitsAnswer())
                             onStopClicked();
                     });
}

void FrmMain::onFinished(const QString& message) {
    if (m_question)
        m_question->close();
    setIdleControls(true);
    Prg->setValue(0);
    Prg->setTextVisible(false);
    Frame1->hide();
    dialogs::message(this, QMessageBox::Information, message);
}

// The list stays readable during a run: it scrolls, but nothing can be selected.
void FrmMain::setIdleControls(bool idle) {
    LstV->setSelectionMode(idle ? QAbstractItemView::SingleSelection : QAbstractItemView::NoSelection);
    if (!idle)
        LstV->clearSelection();
    CmdStart->setEnabled(idle);
    if (idle)
        CmdStop->setEnabled(false);
    COBNUM->setEnabled(idle);
    mnuRetry->setEnabled(idle && m_run->failedRowCount() > 0);
}

void FrmMain::markCell(QTreeWidgetItem* item, int row, int column) const {
    const QString failure = m_run->failureReason(row);
    if (!failure.isEmpty()) {
        item->setForeground(column, rgb(marks::kFailedText));
        item->setBackground(column, QBrush());
        item->setToolTip(column, failure);
        return;
    }
    item->setToolTip(column, QString());
    if (m_thresholds.isWeak(column, item->text(column))) {
        item->setForeground(column, rgb(marks::kWeakText));
        item->setBackground(column, rgb(marks::kWeakFill));
    } else {
        item->setForeground(column, QBrush());
        item->setBackground(column, QBrush());
    }
}

void FrmMain::markRow(int row) {
    if (QTreeWidgetItem* item = LstV->topLevelItem(row)) {
        for (int column = 0; column < QueryRun::kColumnCount; ++column)
            markCell(item, row, column);
    }
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
