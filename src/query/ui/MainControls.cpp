#include "query/ui/MainControls.h"

#include "common/ui/Fonts.h"
#include "common/ui/WindowKit.h"
#include "query/QueryRun.h"
#include "query/ResultRow.h"
#include "query/ui/AccountEdit.h"
#include "query/ui/ElidingHeader.h"

#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

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
constexpr Twips kLabTeam{7395, 6930, 4095, 240}; // the bar's right end, when shown
constexpr int kTeamGap = 6;
constexpr Twips kLabel3{315, 7605, 900, 180};
constexpr Twips kCOBNUM{1305, 7560, 870, 300};
constexpr Twips kLabel4{2250, 7605, 630, 180};
constexpr Twips kCmdStart{3840, 7455, 1440, 465};
constexpr Twips kCmdStop{5587, 7470, 1440, 465};
constexpr Twips kCmdSave{7335, 7455, 1440, 465};
constexpr QSize kClientSize{774, 541};
constexpr int kColumnTwips[] = {1440, 2200, 1200, 1200, 1200, 1200, 2000, 1200, 1440, 1440, 3440};
constexpr QSize kSignInButton{76, 26};

const QString kSongti = u"宋体"_s;

// Labels size themselves to their text and never take the focus.
QLabel* label(QWidget* parent, const QString& name, const QString& text, const Twips& place) {
    QLabel* l = makeLabel(parent, name, text, place.pixels());
    l->adjustSize();
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text, const Twips& place) {
    auto* b = named(new QPushButton(text, parent), name);
    b->setGeometry(place.pixels());
    return b;
}

} // namespace

MainControls::MainControls(QWidget* window, QAbstractItemModel* rows) {
    // The first size is also the smallest; the list takes any room added.
    window->setMinimumSize(kClientSize);
    window->resize(kClientSize);
    window->setFont(cjkFont(kSongti, 9));

    Label1 = label(window, u"Label1"_s, u"209帐号："_s, kLabel1);
    TxtZh = named(new AccountEdit(window), u"TxtZh"_s);
    TxtZh->setGeometry(kTxtZh.pixels());
    TxtZh->setFont(cjkFont(kSongti, 10.5));
    TxtZh->setToolTip(u"一行一个209帐号"_s);
    TxtZh->setLineWrapMode(QPlainTextEdit::NoWrap);
    TxtZh->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Label2 = label(window, u"Label2"_s, u"查询结果："_s, kLabel2);
    LstV = named(new QTreeView(window), u"LstV"_s);
    LstV->setGeometry(kLstV.pixels());
    LstV->setFont(cjkFont(kSongti, 9));
    LstV->setRootIsDecorated(false);
    LstV->setUniformRowHeights(true);
    LstV->setSelectionBehavior(QAbstractItemView::SelectRows);
    LstV->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LstV->setHeader(new ElidingHeader(LstV));
    LstV->setModel(rows);
    // A face wider than 宋体 does not fit the first widths: cut with "…", the whole text in the tip.
    for (int i = 0; i < ResultRowLayout::kColumnCount; ++i)
        LstV->setColumnWidth(i, qRound(kColumnTwips[i] / 15.0));
    LstV->header()->setStretchLastSection(false);
    mnuRetry = named(new QAction(u"重新查询失败和未查询的行"_s, LstV), u"mnuRetry"_s);
    mnuRetry->setEnabled(false);
    LstV->addAction(mnuRetry);
    mnuHistory = named(new QAction(u"查看历史"_s, LstV), u"mnuHistory"_s);
    mnuHistory->setEnabled(false);
    LstV->addAction(mnuHistory);
    mnuPonSummary = named(new QAction(u"PON口汇总"_s, LstV), u"mnuPonSummary"_s);
    LstV->addAction(mnuPonSummary);
    LstV->setContextMenuPolicy(Qt::ActionsContextMenu);

    Frame1 = named(new QFrame(window), u"Frame1"_s);
    Frame1->setGeometry(kFrame1.pixels());
    Frame1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Frame1->setLineWidth(2);
    Frame1->setAutoFillBackground(true);
    LabTip = label(Frame1, u"LabTip"_s, u"限速暂停中……"_s, kLabTip);
    LabSession = label(Frame1, u"LabSession"_s, QueryRun::sessionLostNotice(), kLabTip);
    CmdSignIn = named(new QPushButton(u"重新登录"_s, Frame1), u"CmdSignIn"_s);
    CmdSignIn->setGeometry(Frame1->width() - 8 - kSignInButton.width(),
                           (Frame1->height() - kSignInButton.height()) / 2, kSignInButton.width(),
                           kSignInButton.height());
    LabSession->setGeometry(Frame1->rect().adjusted(8, 4, -8 - kSignInButton.width() - 6, -4));
    LabSession->setAlignment(Qt::AlignCenter);
    LabSession->setWordWrap(true);
    for (QLabel* l : {LabTip, LabSession})
        setTextColour(l, Qt::red);
    LabSession->hide();
    CmdSignIn->hide();
    Frame1->hide();
    Frame1->raise();

    Prg = named(new QProgressBar(window), u"Prg"_s);
    Prg->setGeometry(kPrg.pixels());
    Prg->setTextVisible(false);
    Prg->setFormat(u"%v/%m"_s);
    Prg->setAlignment(Qt::AlignCenter);
    Prg->setRange(0, 100);
    Prg->setValue(0);
    LabTeam = named(new QLabel(window), u"LabTeam"_s);
    LabTeam->setGeometry(kLabTeam.pixels());
    LabTeam->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabTeam->hide();

    Label3 = label(window, u"Label3"_s, u"查询限速："_s, kLabel3);
    COBNUM = named(new QComboBox(window), u"COBNUM"_s);
    COBNUM->setGeometry(kCOBNUM.pixels());
    COBNUM->setToolTip(u"速度太快移动服务器会冒烟，要通报关帐号"_s);
    for (const char* rate : {"10", "15", "20", "25", "30", "35", "40", "45", "50", "55", "60", "70", "80",
                             "90", "100", "110", "120", "150", "200"})
        COBNUM->addItem(QString::fromLatin1(rate));
    COBNUM->setCurrentIndex(4);
    Label4 = label(window, u"Label4"_s, u"个/分钟"_s, kLabel4);

    CmdStart = button(window, u"CmdStart"_s, u"开始查询(&R)"_s, kCmdStart);
    CmdStop = button(window, u"CmdStop"_s, u"停止(&T)"_s, kCmdStop);
    CmdSave = button(window, u"CmdSave"_s, u"导出结果(&S)"_s, kCmdSave);
    CmdStop->setEnabled(false);

    auto* anchors = new EdgeAnchors(window);
    anchors->add(TxtZh, Qt::BottomEdge);
    anchors->add(LstV, Qt::RightEdge | Qt::BottomEdge);
    anchors->add(Prg, Qt::TopEdge | Qt::BottomEdge | Qt::RightEdge);
    anchors->add(LabTeam, Qt::TopEdge | Qt::BottomEdge | Qt::LeftEdge | Qt::RightEdge);
    for (QWidget* bottom :
         std::initializer_list<QWidget*>{Label3, COBNUM, Label4, CmdStart, CmdStop, CmdSave})
        anchors->add(bottom, Qt::TopEdge | Qt::BottomEdge);
    // The pause frame stays over the middle of the list.
    const QPoint frameAt = Frame1->pos();
    const QSize listAt = LstV->size();
    anchors->setAfterPlacing([this, frameAt, listAt] {
        Frame1->move(frameAt +
                     QPoint((LstV->width() - listAt.width()) / 2, (LstV->height() - listAt.height()) / 2));
        if (!LabTeam->isHidden())
            showTeamLine();
    });

    QWidget::setTabOrder(CmdSave, CmdStart);
    QWidget::setTabOrder(CmdStart, LstV);
    QWidget::setTabOrder(LstV, TxtZh);
    QWidget::setTabOrder(TxtZh, COBNUM);
    QWidget::setTabOrder(COBNUM, CmdStop);
}

void MainControls::showTeamLine() const {
    LabTeam->show();
    Prg->resize(LabTeam->x() - kTeamGap - Prg->x(), Prg->height());
}

QSize MainControls::smallestSize() {
    return {600, 400};
}

QStringList MainControls::headerTexts() const {
    QStringList headers;
    const QAbstractItemModel* model = LstV->model();
    for (int i = 0; i < model->columnCount(); ++i)
        headers << model->headerData(i, Qt::Horizontal).toString();
    return headers;
}
