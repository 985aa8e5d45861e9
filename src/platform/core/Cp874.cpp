#include "platform/core/Cp874.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace tevrak::platform::cp874 {

namespace {

// Converts with glibc iconv; returns nothing when the input cannot be converted
// whole ("CP874", not "TIS-620", which refuses 0x80).
std::optional<QByteArray> convert(const char* to, const char* from, const QByteArray& input)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("เครื่องนี้ไม่มีตัวแปลงรหัสภาษาไทย\niconv: CP874");
    QByteArray output(input.size() * 4 + 4, Qt::Uninitialized);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    char* out = output.data();
    size_t outLeft = static_cast<size_t>(output.size());
    const size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1) || inLeft != 0)
        return std::nullopt;
    output.truncate(output.size() - static_cast<qsizetype>(outLeft));
    return output;
}

}  // namespace

std::optional<QByteArray> encode(const QString& text) { return convert("CP874", "UTF-8", text.toUtf8()); }

QString decode(const QByteArray& bytes)
{
    if (const auto whole = convert("UTF-8", "CP874", bytes))
        return QString::fromUtf8(*whole);
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto decoded = convert("UTF-8", "CP874", QByteArray(1, byte));
        text += decoded ? QString::fromUtf8(*decoded) : QString(QChar(0xFFFD));
    }
    return text;
}

bool canEncode(const QString& text) { return encode(text).has_value(); }

}  // namespace tevrak::platform::cp874
