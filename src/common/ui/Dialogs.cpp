#include "common/ui/Dialogs.h"

#include "common/ErrorText.h"
#include "common/Version.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QTimer>

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

AskHandler& askHandler() {
    static AskHandler handler;
    return handler;
}

OpenFileHandler& openFileHandler() {
    static OpenFileHandler handler;
    return handler;
}

// Runs f on context's thread from the event loop, unless context is gone by then.
void later(QObject* context, std::function<void()> f) {
    QTimer::singleShot(0, context, std::move(f));
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

QPointer<QMessageBox> ask(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                          QMessageBox::StandardButtons buttons, QObject* context, Answer done) {
    const MessageRequest request{icon, applicationTitle(), text, buttons};
    if (askHandler()) {
        QPointer<QObject> alive(context);
        askHandler()(request, [alive, done](QMessageBox::StandardButton button) {
            if (alive)
                later(alive, [done, button] { done(button); });
        });
        return nullptr;
    }
    if (messageHandler()) {
        const auto button = messageHandler()(request);
        later(context, [done, button] { done(button); });
        return nullptr;
    }
    auto* box = new QMessageBox(request.icon, request.title, request.text, request.buttons, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QDialog::finished, context, [box, done] {
        const auto button = box->standardButton(box->clickedButton());
        done(button == QMessageBox::NoButton ? QMessageBox::No : button);
    });
    box->show();
    return box;
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

void openFile(const QString& path, QObject* context, std::function<void(const QString& error)> done) {
    if (openFileHandler()) {
        const QString error = openFileHandler()(path);
        later(context, [done, error] { done(error); });
        return;
    }
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The desktop service reports only that xdg-open started; its exit code tells whether a
    // program took the file.
    auto* opener = new QProcess;
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            opener->deleteLater();
    });
    QObject::connect(
        opener, &QProcess::finished, context, [done, path](int code, QProcess::ExitStatus status) {
            done(code == 0 && status == QProcess::NormalExit ? QString() : describeOpenFailure(path));
        });
    QObject::connect(opener, &QProcess::errorOccurred, context, [done, path](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(describeOpenFailure(path));
    });
    opener->start(QStringLiteral("xdg-open"), {path});
#else
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    later(context, [done, opened, path] { done(opened ? QString() : describeOpenFailure(path)); });
#endif
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
void setAskHandler(AskHandler handler) {
    askHandler() = std::move(handler);
}
void setOpenFileHandler(OpenFileHandler handler) {
    openFileHandler() = std::move(handler);
}

} // namespace dialogs
