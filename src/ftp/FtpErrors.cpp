#include "ftp/FtpErrors.h"

#include <cstring>
#include <iconv.h>

namespace tevrak {

namespace {

bool isValidUtf8(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        unsigned min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false;
        unsigned value = c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (d & 0x3F);
        }
        if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// Byte by byte from CP874; a byte the code page leaves undefined becomes U+FFFD.
std::string fromCp874(const std::string& bytes)
{
    std::string out;
    iconv_t cd = iconv_open("UTF-8", "CP874");
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
            continue;
        }
        bool converted = false;
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            char in[1] = {c};
            char buffer[8];
            char* inPtr = in;
            size_t inLeft = 1;
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && inLeft == 0) {
                out.append(buffer, outPtr);
                converted = true;
            }
        }
        if (!converted)
            out += "\xEF\xBF\xBD";
    }
    if (cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd);
    return out;
}

} // namespace

std::string FtpDisplayText(const std::string& bytes)
{
    return isValidUtf8(bytes) ? bytes : fromCp874(bytes);
}

EFtpReplyError::EFtpReplyError(const TServerReply& reply)
    : EFtpError(FtpDisplayText(reply.JoinedText())), reply_(reply)
{
}

EFtpSocketError::EFtpSocketError(int errorNumber)
    : EFtpError("Socket Error # " + std::to_string(errorNumber) + "\r\n" + std::strerror(errorNumber)),
      error_(errorNumber)
{
}

EFtpFileError::EFtpFileError(const std::string& what, const std::string& path, int errorNumber)
    : EFtpError(what + " \"" + FtpDisplayText(path) + "\". " + std::strerror(errorNumber))
{
}

namespace {

// The command with its line breaks and NULs made visible.
std::string visibleControlCharacters(const std::string& command)
{
    std::string shown;
    for (const char c : command) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    return shown;
}

} // namespace

EFtpBadCommandText::EFtpBadCommandText(const std::string& command)
    : EFtpError("The name \"" + FtpDisplayText(visibleControlCharacters(command.substr(command.find(' ') + 1))) +
                "\" holds a line break or NUL character and cannot be sent to the server.")
{
}

EFtpBadPassiveReply::EFtpBadPassiveReply(const TServerReply& reply)
    : EFtpError("Invalid passive reply: " + FtpDisplayText(reply.JoinedText()))
{
}

EFtpTlsRequired::EFtpTlsRequired(const std::string& command, const TServerReply& reply)
    : EFtpError("The server does not offer encryption (" + command + " answered " + reply.TextCode + " " +
                FtpDisplayText(TServerReply::Trim(reply.JoinedText())) + ").")
{
}

} // namespace tevrak
