#include "exchange/session/FailureReason.h"

#include "ftp/FtpErrors.h"
#include "platform/core/Error.h"

#include <QStringList>
#include <algorithm>
#include <cerrno>

namespace tevrak::exchange {

namespace {

QString text(const std::string& utf8)
{
    return QString::fromUtf8(utf8).trimmed().replace(QStringLiteral("\r\n"), QStringLiteral(": "));
}

bool isThai(const QString& line)
{
    return std::any_of(line.begin(), line.end(), [](QChar c) { return c.unicode() >= 0x0E00 && c.unicode() <= 0x0E7F; });
}

// The cause in Thai, and the technical words it came with.
struct Cause {
    QString thai;
    QString detail;
};

Cause socketFailure(const EFtpSocketError& failed)
{
    const QString detail = text(failed.what());
    switch (failed.ErrorNumber()) {
    case ECONNREFUSED:
        return {QStringLiteral("เซิร์ฟเวอร์ไม่รับการติดต่อ (ตรวจสอบที่อยู่เซิร์ฟเวอร์ในการตั้งค่า)"), detail};
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return {QStringLiteral("ติดต่อเซิร์ฟเวอร์ไม่ได้ (ตรวจสอบการเชื่อมต่ออินเทอร์เน็ต)"), detail};
    case ECONNRESET:
    case EPIPE:
        return {QStringLiteral("การเชื่อมต่อกับเซิร์ฟเวอร์ขาดกลางคัน"), detail};
    default:
        return {QStringLiteral("การเชื่อมต่อกับเซิร์ฟเวอร์มีปัญหา"), detail};
    }
}

Cause certificateRefusal(const EFtpCertificateError& refused)
{
    QString why;
    switch (refused.Reason()) {
    case TCertificateProblem::Untrusted:
        why = QStringLiteral("ใบรับรองของเซิร์ฟเวอร์ไม่ได้ออกโดยผู้ออกใบรับรองที่เครื่องนี้เชื่อถือ");
        break;
    case TCertificateProblem::Expired:
        why = QStringLiteral("ใบรับรองของเซิร์ฟเวอร์หมดอายุแล้ว หรือยังไม่ถึงวันเริ่มใช้");
        break;
    case TCertificateProblem::WrongName:
        why = QStringLiteral("ใบรับรองของเซิร์ฟเวอร์เป็นของชื่ออื่น ไม่ใช่เซิร์ฟเวอร์ที่ติดต่อ");
        break;
    case TCertificateProblem::Other:
        why = QStringLiteral("ตรวจสอบใบรับรองของเซิร์ฟเวอร์ไม่ผ่าน");
        break;
    }
    return {why + QStringLiteral(": ไม่ได้ส่งข้อมูลใด ๆ"), text(refused.what())};
}

Cause cause(const std::exception& error, int readTimeoutMs)
{
    if (const auto* refused = dynamic_cast<const EFtpCertificateError*>(&error))
        return certificateRefusal(*refused);
    if (dynamic_cast<const EFtpTlsRequired*>(&error))
        return {QStringLiteral("เซิร์ฟเวอร์ไม่รับการเข้ารหัส (Encryption=Required): ไม่ได้ส่งชื่อผู้ใช้และข้อมูลใด ๆ"),
                text(error.what())};
    if (dynamic_cast<const EFtpTlsError*>(&error))
        return {QStringLiteral("การเข้ารหัสการเชื่อมต่อกับเซิร์ฟเวอร์ล้มเหลว"), text(error.what())};
    if (const auto* refused = dynamic_cast<const EFtpReplyError*>(&error))
        return {QStringLiteral("เซิร์ฟเวอร์ตอบปฏิเสธ"),
                QStringLiteral("%1 %2").arg(refused->NumericCode()).arg(
                    QString::fromUtf8(FtpDisplayText(refused->Reply().JoinedText())).simplified())};
    if (const auto* failed = dynamic_cast<const EFtpSocketError*>(&error))
        return socketFailure(*failed);
    if (dynamic_cast<const EFtpReadTimeout*>(&error) || dynamic_cast<const EFtpWriteTimeout*>(&error) ||
        dynamic_cast<const EFtpDataTimeout*>(&error))
        return {QStringLiteral("เซิร์ฟเวอร์ไม่ตอบภายใน %1 วินาที").arg(readTimeoutMs / 1000.0), text(error.what())};
    if (dynamic_cast<const EFtpClosed*>(&error))
        return {QStringLiteral("เซิร์ฟเวอร์ปิดการเชื่อมต่อ"), text(error.what())};
    if (dynamic_cast<const EFtpTooSlow*>(&error))
        return {QStringLiteral("ข้อมูลผ่านสายช้าเกินไปจนต้องหยุด (สายอินเทอร์เน็ตช้าหรือขาดเป็นช่วง ๆ)"), text(error.what())};
    if (dynamic_cast<const EFtpDownloadTooLarge*>(&error))
        return {QStringLiteral("ไฟล์ใหญ่เกินพื้นที่ดิสก์ที่เหลือ: ไฟล์ยังอยู่บนเซิร์ฟเวอร์"), text(error.what())};
    if (dynamic_cast<const EFtpIncompleteTransfer*>(&error))
        return {QStringLiteral("ข้อมูลมาไม่ครบ: ไฟล์ยังอยู่ที่เดิม"), text(error.what())};
    if (const auto* own = dynamic_cast<const Error*>(&error)) {
        // Our own texts: a Thai first line, and the rest (file names, the
        // system's words) under it. A local file's error as the file system
        // words it is the detail of a Thai line.
        const QString message = own->message().trimmed();
        const QString first = message.section(QLatin1Char('\n'), 0, 0);
        if (!isThai(first))
            return {QStringLiteral("ทำงานกับไฟล์ในเครื่องไม่สำเร็จ"), message};
        return {first, message.section(QLatin1Char('\n'), 1).trimmed()};
    }
    return {QStringLiteral("เกิดข้อผิดพลาด"), text(error.what())};
}

} // namespace

QString failureReason(const ExchangeStep& step, const std::exception& error, int readTimeoutMs)
{
    const Cause why = cause(error, readTimeoutMs);
    QString reason = step.action.isEmpty() ? why.thai : step.action + QStringLiteral("ไม่สำเร็จ: ") + why.thai;
    QStringList details;
    if (!step.subject.isEmpty())
        details << step.subject;
    if (!why.detail.isEmpty())
        details << why.detail;
    if (!details.isEmpty())
        reason += QStringLiteral("\n    ") + details.join(QStringLiteral(": ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return reason;
}

} // namespace tevrak::exchange
