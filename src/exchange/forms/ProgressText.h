#pragma once

#include "exchange/session/ProgressMeter.h"

#include <QString>

// The clerk's words for a progress report, shared by the windows that show one.
namespace tevrak::exchange {

// "ไฟล์ที่ 12 / 120"
QString placeText(const ProgressReport& report);
// "ส่งแล้ว 35.2 MB จาก 120 MB" and on a second line "480 KB/วินาที · เหลืออีกประมาณ
// 2 นาที 10 วินาที"; what is not known yet is left out.
QString amountText(const ProgressReport& report);
// 1,234 bytes as "1.2 KB", and so on up to GB.
QString sizeText(quint64 bytes);
// "1 ชั่วโมง 5 นาที", "2 นาที 10 วินาที", "45 วินาที".
QString durationText(qint64 seconds);
// The bar's position from 0 to 1000 over the whole step (by bytes when their
// total is known, otherwise by files).
int permille(const ProgressReport& report);

} // namespace tevrak::exchange
