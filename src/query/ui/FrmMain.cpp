#include "query/ui/FrmMain.h"

#include "common/NetworkTransport.h"
#include "common/Version.h"
#include "common/ui/Dialogs.h"
#include "query/QueryRun.h"
#include "query/SessionPostClient.h"
#include "query/ui/ExportFlow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

namespace {

// The layout is laid out in twips at 15 per pixel.
int px(int twips) {
    return qRound(twips / 15.0);
}

QRect twips(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

QFont songti(qreal points) {
    QFont font;
    // Song where installed, otherwise any CJK face so no character shows as a box.
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(points);
    return font;
}

QLabel* label(QWidget* parent, const QString& text, const QRect& geometry) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry);
    l->adjustSize();
    return l;
}

QPushButton* button(QWidget* parent, const QString& text, const QRect& geometry) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(geometry);
    return b;
}

} // namespace

FrmMain::FrmMain(const CookieSource* cookies, QWidget* parent)
    : QWidget(parent), m_network(new QNetworkAccessManager(this)),
      m_transport(std::make_unique<net::NetworkTransport>(m_network)),
      m_client(new SessionPostClient(m_transport.get(), cookies, this)),
      m_run(new QueryRun(m_client, nullptr, this)) {
    setFixedSize(774, 541);
    setFont(songti(9));
    setWindowTitle(QStringLiteral("Vesmora V") + installedVersion());

    Label1 = label(this, QStringLiteral("209帐号："), twips(240, 75, 810, 180));
    TxtZh = new QPlainTextEdit(this);
    TxtZh->setGeometry(twips(75, 360, 1770, 6480));
    TxtZh->setFont(songti(10.5));
    TxtZh->setToolTip(QStringLiteral("一行一个209帐号"));
    TxtZh->setLineWrapMode(QPlainTextEdit::NoWrap);
    TxtZh->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Label2 = label(this, QStringLiteral("查询结果："), twips(2040, 75, 900, 180));
    LstV = new QTreeWidget(this);
    LstV->setGeometry(twips(1980, 360, 9540, 6465));
    LstV->setFont(songti(9));
    LstV->setRootIsDecorated(false);
    LstV->setUniformRowHeights(true);
    LstV->setSelectionBehavior(QAbstractItemView::SelectRows);
    LstV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LstV->setHeaderLabels({QStringLiteral("209帐号"), QStringLiteral("结果"),
                           QStringLiteral("光猫接收光功率(dB)"), QStringLiteral("光猫发送光功率(dB)"),
                           QStringLiteral("OLT接收光功率(dB)"), QStringLiteral("OLT发送光功率(dB)"),
                           QStringLiteral("所属EMS"), QStringLiteral("OLT IP"), QStringLiteral("OLT PON"),
                           QStringLiteral("激活LOID"), QStringLiteral("分光器名称")});
    const int widths[] = {1440, 2200, 1200, 1200, 1200, 1200, 2000, 1200, 1440, 1440, 3440};
    for (int i = 0; i < QueryRun::kColumnCount; ++i) {
        LstV->setColumnWidth(i, px(widths[i]));
        LstV->headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
    }
    LstV->header()->setStretchLastSection(false);

    // Lies over the middle of the list; shown only while the rate limit pauses.
    Frame1 = new QFrame(this);
    Frame1->setGeometry(twips(4275, 2745, 5235, 825));
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setAutoFillBackground(true);
    LabTip = label(Frame1, QStringLiteral("限速暂停中……"), twips(1845, 360, 1260, 180));
    LabTip->setStyleSheet(QStringLiteral("color: red;"));
    Frame1->hide();
    Frame1->raise();

    Prg = new QProgressBar(this);
    Prg->setGeometry(twips(75, 6930, 11415, 240));
    Prg->setTextVisible(false);
    Prg->setRange(0, 100);
    Prg->setValue(0);

    Label3 = label(this, QStringLiteral("查询限速："), twips(315, 7605, 900, 180));
    COBNUM = new QComboBox(this);
    COBNUM->setGeometry(twips(1305, 7560, 870, 300));
    COBNUM->setToolTip(QStringLiteral("速度太快移动服务器会冒烟，要通报关帐号"));
    for (const char* rate : {"10", "15", "20", "25", "30", "35", "40", "45", "50", "55", "60", "70", "80",
                             "90", "100", "110", "120", "150", "200"})
        COBNUM->addItem(QString::fromLatin1(rate));
    COBNUM->setCurrentIndex(4);
    Label4 = label(this, QStringLiteral("个/分钟"), twips(2250, 7605, 630, 180));

    CmdStart = button(this, QStringLiteral("开始查询(&R)"), twips(3840, 7455, 1440, 465));
    CmdStop = button(this, QStringLiteral("停止(&T)"), twips(5587, 7470, 1440, 465));
    CmdSave = button(this, QStringLiteral("导出结果(&S)"), twips(7335, 7455, 1440, 465));
    CmdStop->setEnabled(false);

    for (QWidget* w : {Label1, Label2, Label3, Label4, LabTip})
        w->setFocusPolicy(Qt::NoFocus);
    setTabOrder(CmdSave, CmdStart);
    setTabOrder(CmdStart, LstV);
    setTabOrder(LstV, TxtZh);
    setTabOrder(TxtZh, COBNUM);
    setTabOrder(COBNUM, CmdStop);

    m_run->setRateSource([this] { return COBNUM->currentText().toInt(); });
    connect(CmdStart, &QPushButton::clicked, this, &FrmMain::onStartClicked);
    connect(CmdStop, &QPushButton::clicked, this, &FrmMain::onStopClicked);
    connect(CmdSave, &QPushButton::clicked, this, &FrmMain::onSaveClicked);
    connect(m_run, &QueryRun::rowsBuilt, this, &FrmMain::onRowsBuilt);
    connect(m_run, &QueryRun::cellChanged, this, [this](int row, int column, const QString& text) {
        if (QTreeWidgetItem* item = LstV->topLevelItem(row))
            item->setText(column, text);
    });
    connect(m_run, &QueryRun::rowDone, this, [this](int row) {
        if (QTreeWidgetItem* item = LstV->topLevelItem(row))
            LstV->scrollToItem(item);
        Prg->setValue(row + 1);
    });
    connect(m_run, &QueryRun::paused, this, [this](const QString& text) {
        LabTip->setText(text);
        LabTip->adjustSize();
        Frame1->show();
    });
    connect(m_run, &QueryRun::resumed, Frame1, &QWidget::hide);
    connect(m_run, &QueryRun::finished, this, &FrmMain::onFinished);
}

FrmMain::~FrmMain() = default;

QString FrmMain::accountText() const {
    QString text = TxtZh->toPlainText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
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

void FrmMain::onStartClicked() {
    if (!m_run->start(accountText())) {
        dialogs::message(this, QMessageBox::Information, QueryRun::emptyInputMessage());
        TxtZh->setFocus();
    }
}

void FrmMain::onStopClicked() {
    m_run->stop();
    CmdStop->setEnabled(false);
}

// The run waits while the export asks its questions, so the file holds the rows of the click and
// no end-of-run message pops up over the dialogs.
void FrmMain::onSaveClicked() {
    m_run->hold();
    exportList(this, headerTexts(), rowTexts());
    m_run->release();
}

void FrmMain::onRowsBuilt(int count) {
    LstV->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(count);
    const auto& rows = m_run->rows();
    for (int i = 0; i < count; ++i)
        items << new QTreeWidgetItem(QStringList{i < rows.size() ? rows[i][0] : QString()});
    LstV->addTopLevelItems(items);
    setIdleControls(false);
    // A maximum of 0 is not taken: an empty run leaves the bar as it was.
    if (count > 0)
        Prg->setMaximum(count);
    CmdStop->setEnabled(true);
}

void FrmMain::onFinished(const QString& message) {
    setIdleControls(true);
    Prg->setValue(0);
    Frame1->hide();
    dialogs::message(this, QMessageBox::Information, message);
}

void FrmMain::setIdleControls(bool idle) {
    LstV->setEnabled(idle);
    CmdStart->setEnabled(idle);
    if (idle)
        CmdStop->setEnabled(false);
    COBNUM->setEnabled(idle);
}

void FrmMain::closeEvent(QCloseEvent* event) {
    m_run->hold();
    const auto answer = dialogs::message(this, QMessageBox::Information, QStringLiteral("是否确认退出"),
                                         QMessageBox::Yes | QMessageBox::No);
    m_run->release();
    if (answer != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    event->accept();
    emit programEndRequested();
}
