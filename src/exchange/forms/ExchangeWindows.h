#pragma once

#include "exchange/session/ExchangeSession.h"

#include <QElapsedTimer>
#include <QMetaObject>

namespace tevrak::exchange {

struct ExchangeForms;

// What the clerk sees of a running exchange: the progress window "Copying..."
// while the outbox goes up and while the branch's files come down, the branch
// form when the branch file is missing, each download opened on the desktop,
// and the windows repainted while the exchange waits or data moves (the
// caller keeps its own windows from taking input). The window's Cancel button
// sets `cancel`, when given, which the exchange takes at its next check.
class ExchangeWindows : public ExchangeObserver {
public:
    ExchangeWindows(ExchangeForms& forms, QString garageName, platform::CancelRequest* cancel = nullptr);
    ~ExchangeWindows() override;
    ExchangeWindows(const ExchangeWindows&) = delete;
    ExchangeWindows& operator=(const ExchangeWindows&) = delete;

    void uploadStarting(int fileCount) override;
    void uploadingFile(const QString& name) override;
    void uploadEnded() override;
    void downloadStarting(int fileCount) override;
    void downloadEnded() override;
    void progress(const ProgressReport& report) override;
    void keepAlive() override;
    void branchMissing() override;
    void openDownload(const QString& localFile, const QString& dayFolder) override;

private:
    void showNow();

    ExchangeForms& m_forms;
    QString m_garageName;
    QElapsedTimer m_sinceEvents;
    QMetaObject::Connection m_cancelButton;
};

} // namespace tevrak::exchange
