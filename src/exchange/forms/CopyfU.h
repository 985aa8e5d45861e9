#pragma once

#include "exchange/session/ProgressMeter.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tevrak {

namespace exchange {
class CopyAnimation;
}

// The progress window "Copying...": created hidden at start-up and shown by
// every exchange while it sends the outbox and while it fetches the branch's
// files. It stays on top, has no border icons, and shows a sheet of paper
// flying from folder to folder, the file under way, the route, the file's
// place among them, the bytes done of the whole phase with the rate and the
// time left, and a bar over the phase's bytes. Its Cancel button (and Esc)
// asks the exchange to stop (cancelPressed); the window then says it is
// stopping until the exchange has.
class TCopyf : public QDialog {
    Q_OBJECT
public:
    explicit TCopyf(QWidget* parent = nullptr);
    ~TCopyf() override;

    // The start of the sending, and of the receiving: bar at 0, window shown.
    void startUpload();
    void startDownload();
    // One file is on its way to the garage's server folder.
    void showFile(const QString& name, const QString& garageName);
    // Where the phase stands; the bar never goes back within a phase.
    void showProgress(const exchange::ProgressReport& report);
    // Paints the window now, unless it was painted in the last 40 ms.
    void repaintNow();

    exchange::CopyAnimation* Animate1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* PlaceLabel = nullptr;  // "ไฟล์ที่ 12 / 120"
    QLabel* AmountLabel = nullptr; // bytes, rate, time left
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* BitBtn1 = nullptr;

signals:
    void cancelPressed();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override; // Esc: as the Cancel button

private:
    void startPhase();
    void pressCancel();

    bool m_cancelling = false;
    QElapsedTimer m_sinceRepaint;
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
