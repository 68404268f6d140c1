#pragma once

#include <QMessageBox>
#include <QPointer>
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

// Asks without waiting: a modeless box whose answer reaches done later (never inside this call, and
// not at all once context is gone). The caller may close the box it gets back (null when a test
// answers); closing it answers as its Escape button does.
using Answer = std::function<void(QMessageBox::StandardButton)>;
QPointer<QMessageBox> ask(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                          QMessageBox::StandardButtons buttons, QObject* context, Answer done);

// Shows a save dialog; the empty text when it was cancelled.
QString saveFileName(QWidget* parent, const QString& title, const QString& filter);

// Opens an address or a file in the desktop's default program. The result is not reported.
void openExternally(const QUrl& url);

// Opens a file in the program associated with its type. done gets the empty text, or why the file
// could not be opened; later, never inside this call, and not at all once context is gone.
void openFile(const QString& path, QObject* context, std::function<void(const QString& error)> done);

// Test seams: while set, the handler answers instead of a real window.
using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;
using SaveHandler = std::function<QString(const SaveRequest&)>;
using OpenHandler = std::function<void(const QUrl&)>;
// Gets the question and a function to answer it with, now or later. Without it a message
// handler, where set, answers questions too.
using AskHandler = std::function<void(const MessageRequest&, Answer answer)>;
// Returns the empty text for an opened file, else why not.
using OpenFileHandler = std::function<QString(const QString& path)>;
void setMessageHandler(MessageHandler handler);
void setAskHandler(AskHandler handler);
void setOpenFileHandler(OpenFileHandler handler);
void setSaveHandler(SaveHandler handler);
void setOpenHandler(OpenHandler handler);

} // namespace dialogs
