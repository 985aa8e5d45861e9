#include "exchange/forms/ProgressText.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace tevrak::exchange {

QString placeText(const ProgressReport& report)
{
    if (report.fileNumber == 0)
        return {};
    return QStringLiteral("ไฟล์ที่ %1 / %2").arg(report.fileNumber).arg(report.fileCount);
}

QString sizeText(quint64 bytes)
{
    static const char* const units[] = {"KB", "MB", "GB"};
    if (bytes < 1024)
        return QStringLiteral("%1 ไบต์").arg(bytes);
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 2) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', value < 10 ? 1 : 0).arg(QLatin1String(units[unit]));
}

QString durationText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds % 3600 / 60;
    if (hours > 0)
        return QStringLiteral("%1 ชั่วโมง %2 นาที").arg(hours).arg(minutes);
    if (minutes > 0)
        return QStringLiteral("%1 นาที %2 วินาที").arg(minutes).arg(seconds % 60);
    return QStringLiteral("%1 วินาที").arg(seconds);
}

QString amountText(const ProgressReport& report)
{
    QString done;
    switch (report.stage) {
    case ProgressStage::Packing:
        done = QStringLiteral("บรรจุแล้ว");
        break;
    case ProgressStage::Sending:
        done = QStringLiteral("ส่งแล้ว");
        break;
    case ProgressStage::Receiving:
        done = QStringLiteral("รับแล้ว");
        break;
    }
    done += QLatin1Char(' ') + sizeText(report.bytesDone);
    if (report.bytesTotal > 0)
        done += QStringLiteral(" จาก ") + sizeText(report.bytesTotal);
    QStringList pace;
    if (report.bytesPerSecond > 0)
        pace << sizeText(quint64(report.bytesPerSecond)) + QStringLiteral("/วินาที");
    if (report.secondsLeft)
        pace << QStringLiteral("เหลืออีกประมาณ ") + durationText(qint64(std::ceil(*report.secondsLeft)));
    return pace.isEmpty() ? done : done + QLatin1Char('\n') + pace.join(QStringLiteral(" · "));
}

int permille(const ProgressReport& report)
{
    if (report.bytesTotal > 0)
        return int(std::min<quint64>(report.bytesDone * 1000 / report.bytesTotal, 1000));
    if (report.fileCount > 0)
        return std::min(1000, std::max(report.fileNumber - 1, 0) * 1000 / report.fileCount);
    return 0;
}

} // namespace tevrak::exchange
