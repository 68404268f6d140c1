#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

// Every message box, save dialog and shell open of the program goes through here, so that tests
// can answer them without a modal window and see what was asked.
namespace dialogs {

struct MessageRequest {
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

struct SaveRequest {
    QString title;
    QString filter; // Qt form: "Excel文件 (*.xlsx)"
};

// Shows a message box and returns the button pressed. An empty title means the application title.
QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    const QString& title = QString());

// Shows a save dialog; the empty text when it was cancelled.
QString saveFileName(QWidget* parent, const QString& title, const QString& filter);

// Opens an address or a file in the desktop's default program. The result is not reported.
void openExternally(const QUrl& url);

// Test seams: while set, the handler answers instead of a real window.
using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;
using SaveHandler = std::function<QString(const SaveRequest&)>;
using OpenHandler = std::function<void(const QUrl&)>;
void setMessageHandler(MessageHandler handler);
void setSaveHandler(SaveHandler handler);
void setOpenHandler(OpenHandler handler);

} // namespace dialogs
