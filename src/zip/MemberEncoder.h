#pragma once

// Writes one new member (local header and data) into the new archive: the
// method chosen for it, the small-file probe, and the streaming of larger
// files through zlib.

#include "zip/Zip.h"
#include "zip/ZipFormat.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tevrak {

class ZipWorkspace;
namespace zipio {
class OutputFile;
}

// How a member's data is written.
struct MemberMethod {
    bool deflate = true;
    int level = 6;                   // zlib level
    std::uint16_t strengthFlags = 0; // general-purpose bits 1 and 2 naming that level
};

// Deflate unless the method is store or the name's extension is one of
// `storeTypes` (compared without regard to case).
MemberMethod chooseMethod(TCompressMethod method, TDeflateType strength,
                          const std::vector<std::string>& storeTypes, const std::string& relativeName);

// The file cannot go into the archive; `code` is a zip_error code.
struct MemberRefused {
    int code;
    std::string why;
};

class MemberEncoder {
public:
    // Told the bytes of the file read so far, after each part is written.
    using Progress = std::function<void(std::uint64_t fileDone)>;

    // `sizeLimit`: the largest the archive may grow to.
    MemberEncoder(ZipWorkspace& work, zipio::OutputFile& out, std::uint64_t sizeLimit)
        : work_(work), out_(out), sizeLimit_(sizeLimit)
    {
    }

    // Reads the open file `in` to its end and appends the member at the
    // output's position; `fields` brings the date and the name flag, and
    // comes back complete (method, flags, CRC, sizes) as written in the local
    // header. Throws MemberRefused, zipio::ReadFailure or zipio::WriteFailure;
    // the caller then cuts the output back to where the member began.
    zipfmt::MemberFields write(int in, const std::string& storedName, zipfmt::MemberFields fields,
                               const MemberMethod& method, const Progress& progress);

private:
    // The first bytes decide: a file shorter than the probe is in hand whole
    // and written at once, stored when deflating would only enlarge it.
    bool writeSmallFile(zipfmt::MemberFields& fields, const MemberMethod& method, const Progress& progress);
    // Writes a provisional local header, streams the data, then writes the
    // header again with the CRC and sizes.
    void stream(zipfmt::MemberFields& fields, const MemberMethod& method, const Progress& progress);
    void deflateChunk(std::size_t length);
    void finishDeflate();

    ZipWorkspace& work_;
    zipio::OutputFile& out_;
    std::uint64_t sizeLimit_;
    int in_ = -1;
    const std::string* name_ = nullptr;
    std::size_t have_ = 0; // bytes read into the input buffer and not yet written
};

} // namespace tevrak
