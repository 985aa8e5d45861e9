#pragma once

#include "exchange/ExchangeSession.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tevrak {

struct ProgramValues;
namespace exchange {
struct ExchangeForms;
}

// The result of the latest server exchange: true when every step ran to its
// end, false when one failed. Set by TLogin::BitBtn1Click, read by the transfer job.
extern bool TransferOK;

// The session form of one server exchange, "go online": the FTP user name and
// password (prefilled) and the OK action that runs the exchange. The transfer
// job creates it for one exchange, runs BitBtn1Click without showing it and
// releases it afterwards (which closes a connection left open by a failure).
class TLogin : public QDialog, private exchange::ExchangeObserver {
    Q_OBJECT
public:
    TLogin(ProgramValues& values, exchange::ExchangeForms& forms, QWidget* parent = nullptr);
    ~TLogin() override;

    // The OK action: the whole exchange. Never raises; the outcome is TransferOK.
    void BitBtn1Click();
    // The Cancel action: closes the form.
    void BitBtn2Click();

    TFtpLink& FtpLink1() { return m_session.link(); }
    exchange::ExchangeSession& session() { return m_session; }

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

private:
    void uploadStarting(int fileCount) override;
    void uploadingFile(const QString& name) override;
    void fileUploaded() override;
    void uploadEnded() override;
    void keepAlive() override;
    void branchMissing() override;
    void openDownload(const QString& localFile, const QString& dayFolder) override;

    ProgramValues& m_values;
    exchange::ExchangeForms& m_forms;
    exchange::ExchangeSession m_session;
    QElapsedTimer m_sinceEvents;
    bool m_running = false;
};

} // namespace tevrak
