#include "common/ui/Dialogs.h"

#include "common/Version.h"

#include <QDesktopServices>
#include <QFileDialog>

namespace dialogs {

namespace {

MessageHandler& messageHandler() {
    static MessageHandler handler;
    return handler;
}

SaveHandler& saveHandler() {
    static SaveHandler handler;
    return handler;
}

OpenHandler& openHandler() {
    static OpenHandler handler;
    return handler;
}

} // namespace

QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons, const QString& title) {
    const MessageRequest request{icon, title.isEmpty() ? applicationTitle() : title, text, buttons};
    if (messageHandler())
        return messageHandler()(request);
    QMessageBox box(request.icon, request.title, request.text, request.buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString saveFileName(QWidget* parent, const QString& title, const QString& filter) {
    if (saveHandler())
        return saveHandler()(SaveRequest{title, filter});
    // Qt's own dialog: it leaves the extension rule to the caller, as the export expects.
    return QFileDialog::getSaveFileName(parent, title, QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void openExternally(const QUrl& url) {
    if (openHandler()) {
        openHandler()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void setMessageHandler(MessageHandler handler) {
    messageHandler() = std::move(handler);
}
void setSaveHandler(SaveHandler handler) {
    saveHandler() = std::move(handler);
}
void setOpenHandler(OpenHandler handler) {
    openHandler() = std::move(handler);
}

} // namespace dialogs
