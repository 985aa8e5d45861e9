#pragma once

// Printing the pictures that were in the claim folders before the prints existed (or were put there by
// hand): a claim folder at a time, each folder's new prints committed together, so that a run that is
// killed loses at most the folder it was in and the next run goes on from there. A picture already printed
// (at its filing, or by an earlier run) is not printed again.

#include <QString>
#include <QThread>
#include <atomic>
#include <functional>

namespace tevrak::intake::guard {

// The claim folders under the picture inbox (every folder but the outbox), sorted by name.
QStringList claimFolderNames();

struct BackfillProgress {
    int folders = 0; // claim folders looked at
    int printed = 0; // pictures printed
};

// Prints every picture of the claim folders that has no print in `printsFile` yet. Stops between two
// pictures when `stop` becomes true (what the current folder printed is then not committed).
// `afterFolder` is called after each folder's commit (the tests and the benchmark watch it). Throws Error
// when the prints file cannot be opened or written; a picture that cannot be read is left out (it is
// tried again by the next run).
BackfillProgress backfillPrints(const QString& printsFile, const std::atomic<bool>& stop,
                                const std::function<void(const BackfillProgress&)>& afterFolder = {});

// The back-fill on a thread of the lowest priority (also the lowest CPU share of the system's scheduler),
// started after the main window is shown. Destroying it stops the run and waits for it.
class PrintBackfillThread : public QThread {
    Q_OBJECT
public:
    explicit PrintBackfillThread(QString printsFile, QObject* parent = nullptr);
    ~PrintBackfillThread() override;

    void begin() { start(QThread::LowestPriority); }
    // The error that ended the run, empty when it ran through (or has not ended).
    QString failure() const;

protected:
    void run() override;

private:
    QString m_printsFile;
    std::atomic<bool> m_stop{false};
    QString m_failure;
};

} // namespace tevrak::intake::guard
