#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace tevrak {

// The branch registration: the branch whose files the workstation downloads,
// written to C:\LOAD\REGISTER.TXT. Created hidden at start-up and shown
// modally by the server exchange while that file is missing.
class TRegisterF2 : public QDialog {
    Q_OBJECT
public:
    explicit TRegisterF2(QWidget* parent = nullptr);

    // The 32 branches offered, in the order the box shows them.
    static const QStringList& branches();

    void FormActivate();
    void ComboBox1Change();
    void Button1Click();

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace tevrak
