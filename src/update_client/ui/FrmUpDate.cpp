#include "update_client/ui/FrmUpDate.h"

#include "common/Endpoints.h"
#include "common/ProgramFolder.h"
#include "common/Version.h"
#include "common/ui/Dialogs.h"
#include "common/ui/Fonts.h"
#include "common/ui/UpdateBackdrop.h"
#include "common/ui/WindowDrag.h"
#include "common/ui/WindowKit.h"
#include "handover/Folder.h"
#include "handover/Locks.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "handover/UpdateOutcome.h"
#include "platform/Elevation.h"
#include "update_client/FailedInstall.h"
#include "update_client/UpdateCheck.h"
#include "update_client/UpdatePath.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace {

constexpr int kBarWidth = 445;

} // namespace

FrmUpDate::FrmUpDate(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_backdrop(updateBackdrop(QString(), false)),
      m_bar(progressBarPixmap()), m_check(new UpdateCheck(&m_transport, this)) {
    setObjectName(u"FrmUpDate"_s);
    setWindowTitle(applicationTitle());
    setFixedSize(500, 360);

    const QColor darkGrey(0x40, 0x40, 0x40);
    m_ico = makeLabel(this, u"ImgICO"_s, QString(), QRect(16, 10, 32, 32));
    m_title = makeLabel(this, u"LabTitle"_s, u"软件名"_s, QRect(56, 16, 66, 21));
    m_title->setFont(cjkFont(u"宋体"_s, 15.75, true));
    setTextColour(m_title, darkGrey);
    m_end = makeLabel(this, u"LabEnd"_s, u"  "_s, QRect(464, 16, 22, 22));
    // A click on the close spot ends at once: no prompt, no clean-up.
    connect(new CloseSpot(m_end), &CloseSpot::clicked, this, &FrmUpDate::end);
    m_status = makeLabel(this, u"labzt"_s, u"状态"_s, QRect(4, 84, 492, 16));
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setFont(cjkFont(u"宋体"_s, 12, true));
    setTextColour(m_status, darkGrey);
    m_oldVer = makeLabel(this, u"LabOldVer"_s, u"V1.0.0"_s, QRect(72, 192, 72, 21));
    m_newVer = makeLabel(this, u"LabNewVer"_s, u"V1.0.1"_s, QRect(328, 192, 72, 21));
    for (QLabel* version : {m_oldVer, m_newVer}) {
        version->setFont(cjkFont(u"宋体"_s, 15.75, true));
        setTextColour(version, darkGrey);
    }
    m_size = makeLabel(this, u"LabSize"_s, u"文件大小:"_s, QRect(92, 276, 54, 12));
    m_speed = makeLabel(this, u"LabSD"_s, u"下载速度:"_s, QRect(312, 276, 54, 12));
    for (QLabel* small : {m_size, m_speed}) {
        small->setFont(cjkFont(u"宋体"_s, 9));
        setTextColour(small, Qt::black);
    }
    m_progress = makeLabel(this, u"ImgPrb"_s, QString(), QRect(27, 310, kBarWidth, 22));
    m_progress->setPixmap(m_bar);
    m_progress->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    new WindowDrag(this);

    connect(m_check, &UpdateCheck::serverVersionRead, this,
            [this](const QString& version) { m_newVer->setText(u"V"_s + version); });
    connect(m_check, &UpdateCheck::upToDate, this, &FrmUpDate::nothingToInstall);
    connect(m_check, &UpdateCheck::updateNeeded, this, &FrmUpDate::runUpdatePath);
    connect(m_check, &UpdateCheck::failed, this, &FrmUpDate::showFailure);
}

FrmUpDate::~FrmUpDate() = default;

void FrmUpDate::setRequestTimeout(int milliseconds) {
    m_check->setTimeout(milliseconds);
}

void FrmUpDate::setRequestDeadline(int milliseconds) {
    m_check->setDeadline(milliseconds);
}

void FrmUpDate::start() {
    if (!platform::isElevated()) {
        // The elevated instance starts over; this one ends whether or not it could be started.
        platform::restartElevated(QCoreApplication::applicationFilePath());
        end();
        return;
    }
    m_oldVer->setText(u"V"_s + installedVersion());
    const QIcon icon = windowIcon();
    if (!icon.isNull())
        m_ico->setPixmap(icon.pixmap(32, 32));
    m_title->setText(windowTitle());
    m_title->adjustSize();
    m_progress->resize(0, m_progress->height());
    centreOnScreen(this);
    show();

    if (handover::isHeld(Lj(), handover::Holder::Updater)) {
        // An update is being applied; its updater starts the program again when it is done, and
        // waits for every copy of it to end first.
        m_status->setText(u"正在释放更新文件……"_s);
        QMetaObject::invokeMethod(this, &FrmUpDate::end, Qt::QueuedConnection);
        return;
    }
    m_status->setText(u"正在获取版本信息……"_s);
    const auto last = handover::readOutcome(Lj());
    // The start the updater makes after a failure tells of it first; the update it left waiting,
    // if any, is finished at a later start, so that a failure never restarts itself.
    const bool tell = failed_install::toTell(last);
    switch (handover::inspect(Lj())) {
    case handover::Pending::CopiesWaiting:
        if (tell)
            break;
        // An update that was cut short is finished before anything else; its manifest stays.
        resumeUpdate();
        return;
    case handover::Pending::Stale:
        // What an ended update left never survives a new check. One that cannot be removed
        // now is overwritten on the update path, or stays harmless.
        static_cast<void>(handover::clearStale(Lj()));
        break;
    case handover::Pending::Nothing:
        break;
    }
    if (tell) {
        // From the event loop, as every other outcome of the start, once the window is up.
        QMetaObject::invokeMethod(
            this, [this, outcome = *last] { tellFailedInstall(outcome); }, Qt::QueuedConnection);
        return;
    }
    m_check->start();
}

// The installed version still works: after the prompt the user goes on with it.
void FrmUpDate::tellFailedInstall(handover::UpdateOutcome outcome) {
    if (m_ended)
        return;
    // Told once: a record that cannot be marked is told again at the next start.
    outcome.told = true;
    static_cast<void>(handover::writeOutcome(Lj(), outcome));
    const auto answer = dialogs::message(this, QMessageBox::Question, failurePrompt(outcome.reason),
                                         QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        dialogs::openExternally(endpoints::vendorSite());
    nothingToInstall();
}

void FrmUpDate::nothingToInstall() {
    if (m_ended)
        return;
    // One that cannot go now is replaced at the next hand-over.
    static_cast<void>(handover::removeLeftoverUpdater(Lj()));
    // This window's work is done: closing it now hands over instead of ending the program.
    m_ended = true;
    emit proceedToLogin();
    close();
}

void FrmUpDate::runUpdatePath(const UpdateInfo& info) {
    if (m_ended)
        return;
    if (failed_install::holdsBack(handover::readOutcome(Lj()), info.version,
                                  QDateTime::currentDateTimeUtc())) {
        nothingToInstall();
        return;
    }
    createPath();
    m_path->start(info);
}

void FrmUpDate::resumeUpdate() {
    m_newVer->setText(u"V"_s + handover::readManifest(Lj() + handover::manifestFileName()).newVersion);
    createPath();
    m_path->resume();
}

void FrmUpDate::createPath() {
    m_path = new UpdatePath(&m_network, this);
    m_path->setSlowTransferWindow(m_slowWindowMs);
    connect(m_path, &UpdatePath::statusChanged, m_status, &QLabel::setText);
    connect(m_path, &UpdatePath::sizeTextChanged, this, [this](const QString& text) {
        m_size->setText(text);
        m_size->adjustSize();
    });
    connect(m_path, &UpdatePath::speedTextChanged, this, [this](const QString& text) {
        m_speed->setText(text);
        m_speed->adjustSize();
    });
    connect(m_path, &UpdatePath::progressChanged, this,
            [this](int width) { m_progress->resize(std::clamp(width, 0, kBarWidth), m_progress->height()); });
    connect(m_path, &UpdatePath::failed, this,
            [this](const QString& description) { showFailure(failurePrompt(description)); });
    connect(m_path, &UpdatePath::handedOver, this, &FrmUpDate::end);
}

void FrmUpDate::showFailure(const QString& promptText) {
    if (m_ended)
        return;
    const auto answer =
        dialogs::message(this, QMessageBox::Question, promptText, QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        dialogs::openExternally(endpoints::vendorSite());
    end();
}

void FrmUpDate::end() {
    if (m_ended)
        return;
    m_ended = true;
    emit endProgram();
}

// A close from the system (Alt+F4, the taskbar) ends the program like the close spot; otherwise
// the request would die with the window and leave a process with no window.
void FrmUpDate::closeEvent(QCloseEvent* event) {
    event->accept();
    end();
}

void FrmUpDate::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_backdrop);
}
