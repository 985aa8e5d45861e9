#pragma once

#include "platform/widgets/Dialogs.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace tevrak::test {

// Stands in for the desktop while it lives: keeps every message box instead of
// showing it, answers modal forms with the answerers queued by the test (a
// modal form with no answerer queued fails the test), and records the
// documents the program asked the desktop to open.
class RecordingDialogs final : public platform::Dialogs {
public:
    using Answerer = std::function<int(QWidget& form)>;

    RecordingDialogs();
    ~RecordingDialogs() override;
    RecordingDialogs(const RecordingDialogs&) = delete;
    RecordingDialogs& operator=(const RecordingDialogs&) = delete;

    void showMessage(const platform::Message& message) override;
    int showModal(QWidget& form) override;
    void openDocument(const QString& localFile, const QString& workingFolder) override;
    // Records the question and answers it from the queue (a question with no
    // answer queued fails the test and is answered No).
    bool ask(const platform::Question& question) override;

    // Queues the answer to the next modal showing.
    void answerNextModal(Answerer answerer) { m_answerers.push_back(std::move(answerer)); }
    // Queues the answer to the next question (true: Yes).
    void answerNextQuestion(bool yes) { m_answers.push_back(yes); }

    // Called with every message as it is shown (for example to check the
    // state of the program at that moment).
    std::function<void(const platform::Message&)> onMessage;

    std::vector<platform::Message> messages;
    QStringList modalForms;  // objectName or class name of each form shown modally
    QStringList openedDocuments;
    QStringList openedInFolders;
    std::vector<platform::Question> questions;

    // The texts of the messages shown so far.
    QStringList texts() const;
    const platform::Message& last() const;

private:
    std::deque<Answerer> m_answerers;
    std::deque<bool> m_answers;
};

}  // namespace tevrak::test
