#include "ftp/ServerReply.h"

namespace tevrak {

namespace {

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

int decimalOrZero(const std::string& text)
{
    if (text.empty() || text.size() > 9)
        return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::string TServerReply::Trim(const std::string& line)
{
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && isBlank(line[begin]))
        ++begin;
    while (end > begin && isBlank(line[end - 1]))
        --end;
    return line.substr(begin, end - begin);
}

TServerReply TServerReply::Parse(const std::vector<std::string>& lines)
{
    TServerReply reply;
    if (lines.empty())
        return reply;
    std::string code = Trim(lines.front().substr(0, 4));
    if (code.size() == 4 && code.back() == '-')
        code.pop_back();
    reply.TextCode = code;
    reply.NumericCode = decimalOrZero(code);
    reply.Text.reserve(lines.size());
    for (const std::string& line : lines)
        reply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
    return reply;
}

std::string TServerReply::JoinedText() const
{
    std::string joined;
    for (const std::string& line : Text) {
        joined += line;
        joined += "\r\n";
    }
    return joined;
}

} // namespace tevrak
