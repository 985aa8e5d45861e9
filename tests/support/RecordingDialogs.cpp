#include "support/RecordingDialogs.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <stdexcept>

namespace tevrak::test {

RecordingDialogs::RecordingDialogs() { platform::setDialogs(this); }

RecordingDialogs::~RecordingDialogs() { platform::setDialogs(nullptr); }

void RecordingDialogs::showMessage(const platform::Message& message)
{
    messages.push_back(message);
    if (onMessage)
        onMessage(message);
}

int RecordingDialogs::showModal(QWidget& form)
{
    modalForms.append(form.objectName().isEmpty() ? QString::fromLatin1(form.metaObject()->className())
                                                  : form.objectName());
    if (m_answerers.empty()) {
        ADD_FAILURE() << "a form was shown modally with no answer queued: "
                      << modalForms.last().toStdString();
        return 0;
    }
    Answerer answer = std::move(m_answerers.front());
    m_answerers.pop_front();
    return answer(form);
}

void RecordingDialogs::openDocument(const QString& localFile, const QString& workingFolder)
{
    openedDocuments.append(localFile);
    openedInFolders.append(workingFolder);
}

bool RecordingDialogs::ask(const platform::Question& question)
{
    questions.push_back(question);
    if (m_answers.empty()) {
        ADD_FAILURE() << "a question was asked with no answer queued: " << question.text.toStdString();
        return false;
    }
    const bool yes = m_answers.front();
    m_answers.pop_front();
    return yes;
}

QStringList RecordingDialogs::texts() const
{
    QStringList result;
    for (const auto& message : messages)
        result.append(message.text);
    return result;
}

const platform::Message& RecordingDialogs::last() const
{
    if (messages.empty())
        throw std::logic_error("no message was shown");
    return messages.back();
}

}  // namespace tevrak::test
