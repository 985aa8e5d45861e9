#include "app/CommandLine.h"

#include <QString>

namespace tevrak {

namespace {

const char usage[] = "usage: tevrak [--help | --version]\n";

const char help[] =
    "Tevrak files car-damage photographs and scanned claim documents under their claim\n"
    "number and exchanges them with the insurer's FTP server.\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Drive C: is the folder $TEVRAK_ROOT (default ~/Tevrak); on the first start it is\n"
    "created with empty tables. The insurer's server is read from TEVRAK_FTP_HOST and\n"
    "TEVRAK_FTP_PORT, then [Server] Host and Port in ~/.config/Tevrak/registry.ini, then\n"
    "/etc/xdg/Tevrak/registry.ini. The transfer history is LOAD/transfer.log on drive C:.\n";

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
        print(out, QLatin1String(usage) + QLatin1Char('\n') + QLatin1String(help));
        return 0;
    }
    print(err, QStringLiteral("tevrak: unexpected argument \"%1\"\n").arg(arguments.first()) + QLatin1String(usage));
    return 2;
}

} // namespace tevrak
