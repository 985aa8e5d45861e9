#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tevrak {

// The garage-name registration at the first start: it stores the name in the
// registry, then opens the main window modally and closes itself (ending the
// program) when the main window is closed.
class TRegisterf : public QWidget {
    Q_OBJECT
public:
    // `openMainWindow` creates the main window, shows it modally and destroys
    // it when it closes.
    explicit TRegisterf(std::function<void()> openMainWindow, QWidget* parent = nullptr);

    void Button1Click();

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;

private:
    std::function<void()> m_openMainWindow;
};

}  // namespace tevrak
