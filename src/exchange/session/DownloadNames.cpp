#include "exchange/session/DownloadNames.h"

#include "ftp/FtpErrors.h"
#include "platform/core/Cp874.h"

namespace tevrak::exchange {

std::optional<QString> localDownloadName(const std::string& listedName)
{
    const size_t separator = listedName.find_last_of("/\\");
    const std::string last = separator == std::string::npos ? listedName : listedName.substr(separator + 1);
    if (last.empty() || last == "." || last == "..")
        return std::nullopt;
    for (const unsigned char c : last)
        if (c < 0x20 || c == 0x7F)
            return std::nullopt;
    const QString name = QString::fromUtf8(FtpDisplayText(last));
    // A decoded character may still be a control character (C1 codes in UTF-8).
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return std::nullopt;
    return name;
}

std::string serverName(const QString& localName)
{
    if (const auto bytes = platform::cp874::encode(localName))
        return bytes->toStdString();
    return localName.toStdString();
}

} // namespace tevrak::exchange
