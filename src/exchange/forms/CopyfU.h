#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tevrak {

namespace exchange {
class CopyAnimation;
}

// The upload progress window "Copying...": created hidden at start-up and
// shown by every exchange while it sends the outbox. It stays on top, has no
// border icons, and shows a sheet of paper flying from folder to folder, the
// file being sent, the route and a progress bar over the files.
class TCopyf : public QDialog {
    Q_OBJECT
public:
    explicit TCopyf(QWidget* parent = nullptr);
    ~TCopyf() override;

    // The start of an upload phase: bar from 0 to fileCount + 1, one step done, window shown.
    void startUpload(int fileCount);
    // One file is on its way to the garage's server folder.
    void showFile(const QString& name, const QString& garageName);
    // One more file sent.
    void stepIt();
    // Paints the window now.
    void repaintNow();

    exchange::CopyAnimation* Animate1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* BitBtn1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override {} // the Cancel button and Esc do nothing: an exchange cannot be cancelled
};

namespace exchange {

// Stands in for the desktop's copy-files animation: a sheet of paper travels
// from one folder to the other, frame by frame (frames 0 to StopFrame,
// repeating). It runs from creation, but only while it is on screen.
class CopyAnimation : public QWidget {
    Q_OBJECT
public:
    static constexpr int StopFrame = 34;

    explicit CopyAnimation(QWidget* parent = nullptr);
    int frame() const { return m_frame; }
    bool active() const { return m_active; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool m_active = true;
    int m_frame = 0;
    int m_timer = 0;
};

} // namespace exchange

} // namespace tevrak
