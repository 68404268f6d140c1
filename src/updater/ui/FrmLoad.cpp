#include "updater/ui/FrmLoad.h"

#include "common/ui/Fonts.h"
#include "common/ui/UpdateBackdrop.h"
#include "common/ui/WindowDrag.h"
#include "common/ui/WindowKit.h"
#include "handover/Manifest.h"
#include "handover/Names.h"
#include "updater/NotesLayout.h"
#include "updater/UpdaterFlow.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace {

// Plain text straight on the painted backdrop.
QLabel* backdropLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry,
                      const QFont& font, const QColor& colour) {
    QLabel* label = makeLabel(parent, name, text, geometry);
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setTextFormat(Qt::PlainText);
    setTextColour(label, colour);
    return label;
}

} // namespace

FrmLoad::FrmLoad(const QString& programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_folder(programFolder),
      m_backdrop(updateBackdrop(u"正在重启更新……"_s, true)) {
    setObjectName(u"FrmLoad"_s);
    setWindowTitle(u"正在重启更新"_s);
    setFixedSize(500, 360);

    const QColor darkGrey(0x40, 0x40, 0x40);
    m_labUpTxt = backdropLabel(this, u"LabUpTxt"_s, u"正在更新文件重新启动"_s, QRect(164, 76, 160, 21),
                               cjkFont(u"微软雅黑"_s, 12), Qt::black);
    m_labOldVer = backdropLabel(this, u"LabOldVer"_s, u"V1.0.0"_s, QRect(72, 192, 72, 21),
                                cjkFont(u"宋体"_s, 15.75, true), darkGrey);
    m_labNewVer = backdropLabel(this, u"LabNewVer"_s, u"V1.0.1"_s, QRect(328, 192, 72, 21),
                                cjkFont(u"宋体"_s, 15.75, true), darkGrey);
    m_labEnd = backdropLabel(this, u"LabEnd"_s, u"  "_s, QRect(464, 16, 22, 22), cjkFont(u"宋体"_s, 10.5),
                             Qt::black);
    connect(new CloseSpot(m_labEnd), &CloseSpot::clicked, this, [this] {
        if (m_flow)
            m_flow->stop();
        emit ended();
    });

    new WindowDrag(this);
}

void FrmLoad::start() {
    const handover::Manifest manifest = handover::readManifest(m_folder + handover::manifestFileName());
    m_labUpTxt->setText(handover::notesForDisplay(manifest.notes));
    m_labOldVer->setText(manifest.oldVersion);
    m_labNewVer->setText(manifest.newVersion);
    // The labels size themselves to their text, as the layout below expects.
    for (QLabel* label : {m_labUpTxt, m_labOldVer, m_labNewVer})
        label->adjustSize();
    m_labUpTxt->move(notesPosition(m_labUpTxt->size(), width()));

    centreOnScreen(this);

    m_flow = new UpdaterFlow(m_folder, manifest, this);
    m_flow->setTiming(m_timing);
    m_flow->setStepHook(m_stepHook);
    connect(m_flow, &UpdaterFlow::finished, this, &FrmLoad::ended);

    QElapsedTimer shownAt;
    shownAt.start();
    show();
    m_flow->start(shownAt);
}

void FrmLoad::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_backdrop);
}
