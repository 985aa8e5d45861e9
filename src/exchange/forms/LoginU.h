#pragma once

#include "exchange/forms/ExchangeWindows.h"
#include "exchange/session/ExchangeSession.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tevrak {

namespace exchange {
struct ExchangeForms;
}

// The session form of one server exchange, "go online": the FTP user name and
// password (prefilled) and the OK action that runs an exchange with them,
// showing its progress in the exchange's windows.
class TLogin : public QDialog {
    Q_OBJECT
public:
    TLogin(const QString& garageName, exchange::ExchangeForms& forms, QWidget* parent = nullptr);
    ~TLogin() override;

    // The OK action: the whole exchange with the form's user name and password.
    // Never raises; how it ended is outcome().
    void BitBtn1Click();
    // The Cancel action: closes the form.
    void BitBtn2Click();

    TFtpLink& FtpLink1() { return m_session.link(); }
    exchange::ExchangeSession& session() { return m_session; }
    // How the latest exchange of this form ended.
    const exchange::ExchangeOutcome& outcome() const { return m_outcome; }

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

private:
    exchange::ExchangeWindows m_windows;
    exchange::ExchangeSession m_session;
    exchange::ExchangeOutcome m_outcome;
    bool m_running = false;
};

} // namespace tevrak
