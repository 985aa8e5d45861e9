#pragma once

#include "exchange/session/ExchangeSession.h"

#include <QElapsedTimer>

namespace tevrak::exchange {

struct ExchangeForms;

// What the clerk sees of a running exchange: the progress window "Copying..."
// while the outbox goes up, the branch form when the branch file is missing,
// each download opened on the desktop, and the windows repainted while data
// moves (the caller keeps its own windows from taking input).
class ExchangeWindows : public ExchangeObserver {
public:
    ExchangeWindows(ExchangeForms& forms, QString garageName);

    void uploadStarting(int fileCount) override;
    void uploadingFile(const QString& name) override;
    void fileUploaded() override;
    void uploadEnded() override;
    void keepAlive() override;
    void branchMissing() override;
    void openDownload(const QString& localFile, const QString& dayFolder) override;

private:
    ExchangeForms& m_forms;
    QString m_garageName;
    QElapsedTimer m_sinceEvents;
};

} // namespace tevrak::exchange
