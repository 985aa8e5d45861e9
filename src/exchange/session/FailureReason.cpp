#include "exchange/session/FailureReason.h"

#include "ftp/FtpErrors.h"

#include <cerrno>

namespace tevrak::exchange {

namespace {

QString text(const std::string& utf8)
{
    return QString::fromUtf8(utf8).trimmed();
}

QString serverReply(const EFtpReplyError& refused)
{
    const QString said = QString::fromUtf8(FtpDisplayText(refused.Reply().JoinedText())).simplified();
    return QStringLiteral("the server answered \"%1 %2\"").arg(refused.NumericCode()).arg(said);
}

QString socketFailure(const EFtpSocketError& failed)
{
    switch (failed.ErrorNumber()) {
    case ECONNREFUSED:
        return QStringLiteral("the server refused the connection (is the server address right?)");
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return QStringLiteral("the server cannot be reached (check the network connection)");
    case ECONNRESET:
    case EPIPE:
        return QStringLiteral("the connection to the server broke off");
    default:
        return text(failed.what()).replace(QStringLiteral("\r\n"), QStringLiteral(": "));
    }
}

// A refused certificate in Thai, with the client's own words under it.
QString certificateRefusal(const EFtpCertificateError& refused)
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
    return why + QStringLiteral(": ไม่ได้ส่งข้อมูลใด ๆ (") + text(refused.what()) + QLatin1Char(')');
}

QString cause(const std::exception& error, int readTimeoutMs)
{
    if (const auto* refused = dynamic_cast<const EFtpCertificateError*>(&error))
        return certificateRefusal(*refused);
    if (dynamic_cast<const EFtpTlsRequired*>(&error))
        return QStringLiteral("เซิร์ฟเวอร์ไม่รับการเข้ารหัส (Encryption=Required): ไม่ได้ส่งชื่อผู้ใช้และข้อมูลใด ๆ (") +
               text(error.what()) + QLatin1Char(')');
    if (const auto* refused = dynamic_cast<const EFtpReplyError*>(&error))
        return serverReply(*refused);
    if (const auto* failed = dynamic_cast<const EFtpSocketError*>(&error))
        return socketFailure(*failed);
    if (dynamic_cast<const EFtpReadTimeout*>(&error) || dynamic_cast<const EFtpWriteTimeout*>(&error) ||
        dynamic_cast<const EFtpDataTimeout*>(&error))
        return QStringLiteral("the server did not answer within %1 seconds").arg(readTimeoutMs / 1000.0);
    if (dynamic_cast<const EFtpClosed*>(&error))
        return QStringLiteral("the server closed the connection");
    return text(error.what());
}

} // namespace

QString failureReason(const QString& step, const std::exception& error, int readTimeoutMs)
{
    QString reason = cause(error, readTimeoutMs);
    if (!reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    return step.isEmpty() ? reason : step + QStringLiteral(": ") + reason;
}

} // namespace tevrak::exchange
