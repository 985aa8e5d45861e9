#include "app/CommandLine.h"

#include <QString>

namespace tevrak {

namespace {

const char usage[] = "วิธีใช้: tevrak [--help | --version]\n";

const char help[] =
    "Tevrak จัดเก็บรูปถ่ายความเสียหายของรถและเอกสารเคลมที่สแกนไว้ตามเลขรับแจ้ง\n"
    "และรับส่งกับเซิร์ฟเวอร์ FTP ของบริษัทประกัน\n"
    "\n"
    "  --help     แสดงข้อความนี้แล้วจบ\n"
    "  --version  แสดงรุ่นของโปรแกรมแล้วจบ\n"
    "\n"
    "ไดรฟ์ C: คือโฟลเดอร์ $TEVRAK_ROOT (ถ้าไม่กำหนดคือ ~/Tevrak) เมื่อเริ่มใช้งานครั้งแรก\n"
    "โปรแกรมสร้างโฟลเดอร์นี้พร้อมตารางว่าง ที่อยู่เซิร์ฟเวอร์ของบริษัทประกันอ่านจาก\n"
    "TEVRAK_FTP_HOST และ TEVRAK_FTP_PORT แล้วจาก [Server] Host และ Port ใน\n"
    "~/.config/Tevrak/registry.ini แล้วจาก /etc/xdg/Tevrak/registry.ini\n"
    "ประวัติการรับส่งอยู่ที่ LOAD/transfer.log ในไดรฟ์ C:\n";

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

std::optional<int> handleCommandLine(const QStringList& arguments, std::FILE* out, std::FILE* err)
{
    if (arguments.isEmpty())
        return std::nullopt;
    if (arguments == QStringList{QStringLiteral("--version")}) {
        print(out, QStringLiteral("tevrak %1\n").arg(QStringLiteral(TEVRAK_VERSION)));
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("--help")}) {
        print(out, QString::fromUtf8(usage) + QLatin1Char('\n') + QString::fromUtf8(help));
        return 0;
    }
    print(err, QStringLiteral("tevrak: ไม่รู้จักตัวเลือก \"%1\"\n").arg(arguments.first()) + QString::fromUtf8(usage));
    return 2;
}

} // namespace tevrak
