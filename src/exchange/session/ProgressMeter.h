#pragma once

#include <QString>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

namespace tevrak::exchange {

// The long steps of a Transfer whose progress the clerk follows.
enum class ProgressStage { Packing, Sending, Receiving };

// Where a step stands: the file and its place, the bytes done of the whole
// step, the recent rate and the time left.
struct ProgressReport {
    ProgressStage stage = ProgressStage::Sending;
    int fileNumber = 0; // the current file's place, from 1; 0 before the first
    int fileCount = 0;
    QString fileName;
    quint64 bytesDone = 0;
    quint64 bytesTotal = 0;             // 0: not known
    double bytesPerSecond = 0;          // over the last RateWindow; 0 until known
    std::optional<double> secondsLeft;  // once the rate and the total are known
};

// Counts a step's bytes as its files move and turns them into reports.
//
// The bytes done never go back: a file counts for its whole size once it is
// finished, however many bytes went over the line for it (none when the server
// held it already, the rest when it held the beginning), and a file's bytes in
// flight never pass its size. The rate is the bytes counted over the last
// RateWindow (from the first bytes that moved while the step is younger),
// known once MinimumSpan has passed; the time left is the bytes still to go
// at that rate.
// A recent window follows a line that slows down or speeds up within seconds,
// and is long enough that the pause between two files does not upset it.
class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds RateWindow{5000};
    static constexpr std::chrono::milliseconds MinimumSpan{3000};
    // How often a report is due while bytes move (twice a second and more).
    static constexpr std::chrono::milliseconds ReportInterval{250};

    ProgressMeter(ProgressStage stage, int fileCount, quint64 bytesTotal,
                  std::function<Clock::time_point()> now = &Clock::now);

    // The next file begins; size: its bytes, when known.
    void startFile(const QString& name, std::optional<quint64> size);
    // Bytes of the current file done so far.
    void moved(quint64 bytesOfFile);
    // The current file is done (sent, received, or left as it was).
    void finishFile();

    ProgressStage stage() const { return m_stage; }
    ProgressReport report() const;
    // A report is due: ReportInterval has passed since the last one taken.
    bool reportDue() const;
    // The report, marked as taken.
    ProgressReport takeReport();

private:
    void sample();

    ProgressStage m_stage;
    int m_fileCount;
    quint64 m_total;
    std::function<Clock::time_point()> m_now;
    int m_fileNumber = 0;
    QString m_fileName;
    std::optional<quint64> m_fileSize;
    quint64 m_finishedBytes = 0; // of the files before the current one
    quint64 m_fileBytes = 0;     // of the current file
    Clock::time_point m_start;
    Clock::time_point m_lastReport;
    std::deque<std::pair<Clock::time_point, quint64>> m_samples; // (when, bytes done) over the window
};

} // namespace tevrak::exchange
