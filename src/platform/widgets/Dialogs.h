#pragma once

#include <QImage>
#include <QString>
#include <exception>
#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

// Everything the program shows or asks outside its own windows goes through
// one replaceable service: message boxes, modal showings of forms, and the
// desktop's "open with the associated application". Tests install their own
// service to read what would have been shown and to answer modal forms.
namespace tevrak::platform {

enum class MessageIcon { None, Information, Warning, Error, Confirmation };

struct Message {
    QString caption;
    QString text;
    MessageIcon icon = MessageIcon::None;
    // Shown under a button of its own (the message box's detailed text); empty: none.
    QString details{};
};

// A question with the buttons Yes and No, No the default (Enter and Escape
// answer No). Pictures, when given, are shown side by side above the text,
// each with its caption under it.
struct Question {
    QString caption;
    QString text;
    QImage leftPicture;
    QString leftCaption;
    QImage rightPicture;
    QString rightCaption;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box with one OK button; returns when the user has pressed it.
    virtual void showMessage(const Message& message) = 0;
    // Shows the form modally and returns its result when it is closed (for a
    // QDialog its exec() result, otherwise 0).
    virtual int showModal(QWidget& form) = 0;
    // Opens a document with the desktop's associated application; never waits.
    virtual void openDocument(const QString& localFile, const QString& workingFolder) = 0;
    // Asks the question; true for Yes. The desktop's box unless overridden.
    virtual bool ask(const Question& question);
};

// The desktop's box for a question, built but not shown (ask runs it; the
// documentation's screenshots show it).
std::unique_ptr<QMessageBox> questionBox(const Question& question);

// The service in use: the desktop one unless a test installed another.
Dialogs& dialogs();
// Installs a service (nullptr restores the desktop one). The caller keeps ownership.
void setDialogs(Dialogs* service);

// The application title: the caption of the standard message boxes.
QString applicationTitle();
void setApplicationTitle(const QString& title);

// The standard error box: the message with a full stop added when it lacks
// one, captioned with the application title, error icon, OK.
void showErrorBox(const QString& message);
// The check-failure box of the entry forms: caption "Error", error icon, OK.
void showInputError(const QString& text);
// A plain message box captioned with the application title, no icon.
void showPlainMessage(const QString& text);

// Runs an event handler's work; an error it raises ends the handler and is
// shown in the standard error box. Errors never cross Qt's event loop.
void reportError(std::exception_ptr error);
template <typename Work>
void guard(Work&& work)
{
    try {
        work();
    } catch (...) {
        reportError(std::current_exception());
    }
}

}  // namespace tevrak::platform
