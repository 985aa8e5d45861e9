#pragma once

#include <string>
#include <vector>

namespace tevrak {

// One parsed server reply.
struct TServerReply {
    int NumericCode = 0;           // 0 when the code text is not a number
    std::string TextCode;          // the code as text, normally three digits
    std::vector<std::string> Text; // every reply line from its fifth character on

    // Builds a reply from its lines as read (already trimmed, first line first).
    static TServerReply Parse(const std::vector<std::string>& lines);

    // Removes spaces and control characters at both ends.
    static std::string Trim(const std::string& line);

    // The reply's text lines, each followed by CR LF.
    std::string JoinedText() const;
};

} // namespace tevrak
