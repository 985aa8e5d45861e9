#pragma once

// A 256-bit perceptual hash of a picture, for finding the same photograph again after it was re-encoded,
// reduced, brightened, turned or mirrored. The picture's luminance is averaged down to 64 x 64 (its
// proportions are not kept), a two-dimensional DCT is taken, and the 16 x 16 lowest frequencies above the
// constant one each give a bit: 1 where the coefficient is above their median. Two hashes of one picture
// differ in few bits (a Hamming distance in the low tens at most); two different pictures in about half.
//
// Turning and mirroring a picture only moves its DCT coefficients and changes their signs, so the hashes
// of the picture's eight turned and mirrored versions come from the one DCT (DihedralHashes).

#include <QByteArray>
#include <QImage>
#include <QtGlobal>
#include <array>
#include <bit>
#include <algorithm>
#include <cstdint>
#include <optional>

namespace tevrak::imaging {

struct PerceptualHash {
    static constexpr int Bits = 256;
    static constexpr int Bytes = Bits / 8;
    std::array<quint64, 4> words{};

    bool operator==(const PerceptualHash&) const = default;

    // The 32 bytes as stored (each word little-endian, words in order) and back; a wrong length gives
    // nothing.
    QByteArray toBytes() const;
    static std::optional<PerceptualHash> fromBytes(const QByteArray& bytes);
};

// The number of bits in which two hashes differ.
inline int distance(const PerceptualHash& a, const PerceptualHash& b)
{
    return std::popcount(a.words[0] ^ b.words[0]) + std::popcount(a.words[1] ^ b.words[1]) +
           std::popcount(a.words[2] ^ b.words[2]) + std::popcount(a.words[3] ^ b.words[3]);
}

// The hashes of a picture as it is (index 0) and of its seven turned and mirrored versions. A picture
// filed turned or mirrored has one of its versions' hashes.
struct DihedralHashes {
    std::array<PerceptualHash, 8> versions;

    const PerceptualHash& upright() const { return versions[0]; }
    // The smallest distance between any version and `stored`.
    int distanceTo(const PerceptualHash& stored) const
    {
        int best = PerceptualHash::Bits;
        for (const PerceptualHash& version : versions)
            best = std::min(best, distance(version, stored));
        return best;
    }
};

// How much the picture holds beyond its average, 0 (one flat colour) to 100: the mean of the gradient's
// size over the 64 x 64 luminance, as a percentage of a level of 2.5 per pixel step. Hashes of pictures
// with little detail follow noise and are not to be compared.
struct HashedPicture {
    DihedralHashes hashes;
    // The upright hash of the picture cut by CroppedShare of its width and height on every side: what a copy
    // cut down by a few per cent hashes near to (turned copies are found through DihedralHashes).
    PerceptualHash cropped;
    int detail = 0;
};
inline constexpr double CroppedShare = 0.025;

// Throws nothing; a null picture gives the hash of a flat one with detail 0.
HashedPicture hashPicture(const QImage& picture);
PerceptualHash perceptualHash(const QImage& picture);

} // namespace tevrak::imaging
