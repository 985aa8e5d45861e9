#include "exchange/session/ProgressMeter.h"

#include <algorithm>
#include <cmath>

namespace tevrak::exchange {

ProgressMeter::ProgressMeter(ProgressStage stage, int fileCount, quint64 bytesTotal,
                             std::function<Clock::time_point()> now)
    : m_stage(stage), m_fileCount(fileCount), m_total(bytesTotal), m_now(std::move(now))
{
    m_start = m_now();
    m_lastReport = m_start - ReportInterval;
}

void ProgressMeter::startFile(const QString& name, std::optional<quint64> size)
{
    if (m_fileNumber > 0)
        finishFile();
    ++m_fileNumber;
    m_fileName = name;
    m_fileSize = size;
    m_fileBytes = 0;
}

void ProgressMeter::moved(quint64 bytesOfFile)
{
    if (m_fileSize)
        bytesOfFile = std::min(bytesOfFile, *m_fileSize);
    if (bytesOfFile <= m_fileBytes)
        return;
    m_fileBytes = bytesOfFile;
    sample();
}

void ProgressMeter::finishFile()
{
    m_finishedBytes += m_fileSize ? *m_fileSize : m_fileBytes;
    m_fileBytes = 0;
    m_fileSize = quint64(0); // counted: nothing more of it until the next file
    sample();
}

void ProgressMeter::sample()
{
    const Clock::time_point now = m_now();
    const quint64 done = m_finishedBytes + m_fileBytes;
    // The rate is measured from the first bytes that moved: the connecting
    // and the commands before them are no part of it.
    if (m_samples.empty()) {
        m_samples.emplace_back(now, done);
        return;
    }
    if (now - m_samples.back().first < std::chrono::milliseconds(50)) {
        m_samples.back().second = done; // one sample per 50 ms is plenty
    } else {
        m_samples.emplace_back(now, done);
    }
    while (m_samples.size() > 2 && now - m_samples[1].first >= RateWindow)
        m_samples.pop_front();
}

ProgressReport ProgressMeter::report() const
{
    ProgressReport report;
    report.stage = m_stage;
    report.fileNumber = m_fileNumber;
    report.fileCount = m_fileCount;
    report.fileName = m_fileName;
    report.bytesDone = m_finishedBytes + m_fileBytes;
    report.bytesTotal = m_total == 0 ? 0 : std::max(m_total, report.bytesDone);

    // The rate over the window, measured up to now: a line that has stopped
    // shows its rate falling.
    const Clock::time_point now = m_now();
    if (m_samples.empty())
        return report;
    const auto& oldest = m_samples.front();
    const auto span = now - oldest.first;
    if (span >= MinimumSpan) {
        const double seconds = std::chrono::duration<double>(span).count();
        report.bytesPerSecond = double(report.bytesDone - oldest.second) / seconds;
        if (report.bytesTotal > 0 && report.bytesPerSecond > 0)
            report.secondsLeft = double(report.bytesTotal - report.bytesDone) / report.bytesPerSecond;
    }
    return report;
}

bool ProgressMeter::reportDue() const
{
    return m_now() - m_lastReport >= ReportInterval;
}

ProgressReport ProgressMeter::takeReport()
{
    m_lastReport = m_now();
    return report();
}

} // namespace tevrak::exchange
