#include "zip/MemberEncoder.h"

#include "zip/FileIo.h"
#include "zip/MemberName.h"
#include "zip/OutputFile.h"
#include "zip/ZipWorkspace.h"

#include <stdexcept>

namespace tevrak {

namespace {

constexpr std::uint64_t FourGiB = 1ull << 32;
constexpr std::size_t SmallFileLimit = 257; // below this a file is stored when deflate would enlarge it

} // namespace

MemberMethod chooseMethod(TCompressMethod method, TDeflateType strength,
                          const std::vector<std::string>& storeTypes, const std::string& relativeName)
{
    // zlib level and the general-purpose bits 1 and 2, by TDeflateType: normal, maximum, fast, super fast.
    static constexpr struct {
        int level;
        std::uint16_t flags;
    } strengths[] = {{6, 0}, {9, 0x2}, {2, 0x4}, {1, 0x6}};
    const auto& chosenStrength = strengths[static_cast<int>(strength)];
    MemberMethod chosen;
    chosen.level = chosenStrength.level;
    chosen.strengthFlags = chosenStrength.flags;
    chosen.deflate = method == TCompressMethod::cmDeflate;
    if (chosen.deflate) {
        const std::string base = zipio::nameOf(relativeName);
        const auto dot = base.find_last_of('.');
        const std::string extension = dot == std::string::npos ? std::string() : base.substr(dot);
        for (const auto& type : storeTypes)
            if (!extension.empty() && zipname::equalIgnoringCase(type, extension))
                chosen.deflate = false;
    }
    return chosen;
}

zipfmt::MemberFields MemberEncoder::write(int in, const std::string& storedName, zipfmt::MemberFields fields,
                                          const MemberMethod& method, const Progress& progress)
{
    in_ = in;
    name_ = &storedName;
    have_ = 0;
    if (method.deflate && writeSmallFile(fields, method, progress))
        return fields;
    stream(fields, method, progress);
    return fields;
}

bool MemberEncoder::writeSmallFile(zipfmt::MemberFields& fields, const MemberMethod& method,
                                   const Progress& progress)
{
    unsigned char* input = work_.input.data();
    while (have_ < SmallFileLimit) {
        const std::size_t n = zipio::readSome(in_, input + have_, SmallFileLimit - have_);
        if (n == 0)
            break;
        have_ += n;
    }
    if (have_ >= SmallFileLimit)
        return false;
    const unsigned char* data = input;
    std::size_t dataSize = have_;
    const std::uint16_t nameFlag = fields.flags;
    fields.method = zipfmt::MethodStored;
    if (have_ > 0) {
        work_.start(method.level);
        work_.stream.next_in = input;
        work_.stream.avail_in = static_cast<uInt>(have_);
        work_.stream.next_out = work_.output.data();
        work_.stream.avail_out = static_cast<uInt>(work_.output.size());
        if (::deflate(&work_.stream, Z_FINISH) != Z_STREAM_END)
            throw std::runtime_error("zlib failed on a small file");
        const std::size_t packed = work_.output.size() - work_.stream.avail_out;
        if (packed <= have_) {
            fields.method = zipfmt::MethodDeflated;
            fields.flags = static_cast<std::uint16_t>(nameFlag | method.strengthFlags);
            data = work_.output.data();
            dataSize = packed;
        }
    }
    fields.crc = have_ > 0 ? static_cast<std::uint32_t>(::crc32_z(::crc32(0, nullptr, 0), input, have_)) : 0;
    fields.compressedSize = static_cast<std::uint32_t>(dataSize);
    fields.size = static_cast<std::uint32_t>(have_);
    out_.write(zipfmt::localHeader(fields, *name_));
    out_.write(data, dataSize);
    progress(have_);
    return true;
}

void MemberEncoder::stream(zipfmt::MemberFields& fields, const MemberMethod& method, const Progress& progress)
{
    const std::uint64_t headerAt = out_.position();
    fields.method = method.deflate ? zipfmt::MethodDeflated : zipfmt::MethodStored;
    fields.flags = static_cast<std::uint16_t>(fields.flags | (method.deflate ? method.strengthFlags : 0));
    out_.write(zipfmt::localHeader(fields, *name_)); // provisional: CRC and sizes follow
    const std::uint64_t dataStart = out_.position();
    if (method.deflate)
        work_.start(method.level);
    uLong crc = ::crc32(0, nullptr, 0);
    std::uint64_t fileDone = 0;
    for (;;) {
        if (have_ == 0) {
            have_ = zipio::readSome(in_, work_.input.data(), work_.input.size());
            if (have_ == 0)
                break;
        }
        crc = ::crc32_z(crc, work_.input.data(), have_);
        fileDone += have_;
        if (fileDone >= FourGiB)
            throw MemberRefused{zip_error::FileTooLarge, "grew to 4 GiB while it was read"};
        if (method.deflate)
            deflateChunk(have_);
        else
            out_.write(work_.input.data(), have_);
        have_ = 0;
        if (out_.position() > sizeLimit_)
            throw MemberRefused{zip_error::ArchiveTooLarge, "the archive would reach 4 GiB"};
        progress(fileDone);
    }
    if (method.deflate)
        finishDeflate();
    else if (fileDone == 0)
        progress(0);
    const std::uint64_t packed = out_.position() - dataStart;
    if (packed >= FourGiB)
        throw MemberRefused{zip_error::ArchiveTooLarge, "the archive would reach 4 GiB"};
    fields.crc = fileDone > 0 ? static_cast<std::uint32_t>(crc) : 0;
    fields.compressedSize = static_cast<std::uint32_t>(packed);
    fields.size = static_cast<std::uint32_t>(fileDone);
    out_.patch(headerAt, zipfmt::localHeader(fields, *name_));
}

void MemberEncoder::deflateChunk(std::size_t length)
{
    work_.stream.next_in = work_.input.data();
    work_.stream.avail_in = static_cast<uInt>(length);
    do {
        work_.stream.next_out = work_.output.data();
        work_.stream.avail_out = static_cast<uInt>(work_.output.size());
        ::deflate(&work_.stream, Z_NO_FLUSH);
        out_.write(work_.output.data(), work_.output.size() - work_.stream.avail_out);
    } while (work_.stream.avail_out == 0);
}

void MemberEncoder::finishDeflate()
{
    int status;
    do {
        work_.stream.next_out = work_.output.data();
        work_.stream.avail_out = static_cast<uInt>(work_.output.size());
        status = ::deflate(&work_.stream, Z_FINISH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            throw std::runtime_error("zlib failed while deflating");
        out_.write(work_.output.data(), work_.output.size() - work_.stream.avail_out);
    } while (status != Z_STREAM_END);
}

} // namespace tevrak
