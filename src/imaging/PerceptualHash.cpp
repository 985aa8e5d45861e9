#include "imaging/PerceptualHash.h"

#include <QByteArray>
#include <algorithm>
#include <cmath>
#include <optional>

namespace tevrak::imaging {

namespace {

constexpr int Side = 64;      // the luminance grid the DCT is taken over
constexpr int Frequencies = 16; // the lowest frequencies kept each way, the constant one left out

using Grid = std::array<float, Side * Side>;
using Coefficients = std::array<float, Frequencies * Frequencies>;

// The DCT-II rows for frequencies 1..16 over 64 samples.
const std::array<float, Frequencies * Side>& dctRows()
{
    static const auto rows = [] {
        std::array<float, Frequencies * Side> m{};
        const double scale = std::sqrt(2.0 / Side);
        for (int k = 0; k < Frequencies; ++k) {
            for (int n = 0; n < Side; ++n)
                m[size_t(k * Side + n)] =
                    float(scale * std::cos(M_PI / (2.0 * Side) * (k + 1) * (2 * n + 1)));
        }
        return m;
    }();
    return rows;
}

// The picture's luminance averaged over a 64 x 64 grid (Qt's smooth reduction averages the pixels each
// grid cell covers; a smaller picture is enlarged).
Grid luminance(const QImage& picture)
{
    Grid grid{};
    if (picture.isNull())
        return grid;
    const QImage small = picture.convertToFormat(QImage::Format_RGB32)
                             .scaled(Side, Side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < Side; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(small.constScanLine(y));
        for (int x = 0; x < Side; ++x)
            grid[size_t(y * Side + x)] =
                0.299f * float(qRed(row[x])) + 0.587f * float(qGreen(row[x])) + 0.114f * float(qBlue(row[x]));
    }
    return grid;
}

// D = C A C^T for the 16 kept frequencies: row u is the vertical frequency u+1, column v the horizontal.
Coefficients dct(const Grid& grid)
{
    const auto& c = dctRows();
    std::array<float, Frequencies * Side> rowsDone{}; // C A: 16 x 64
    for (int k = 0; k < Frequencies; ++k) {
        for (int x = 0; x < Side; ++x) {
            float sum = 0;
            for (int y = 0; y < Side; ++y)
                sum += c[size_t(k * Side + y)] * grid[size_t(y * Side + x)];
            rowsDone[size_t(k * Side + x)] = sum;
        }
    }
    Coefficients d{};
    for (int u = 0; u < Frequencies; ++u) {
        for (int v = 0; v < Frequencies; ++v) {
            float sum = 0;
            for (int x = 0; x < Side; ++x)
                sum += rowsDone[size_t(u * Side + x)] * c[size_t(v * Side + x)];
            d[size_t(u * Frequencies + v)] = sum;
        }
    }
    return d;
}

PerceptualHash bitsAboveMedian(const Coefficients& d)
{
    Coefficients sorted = d;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const float median = sorted[sorted.size() / 2];
    PerceptualHash hash;
    for (size_t i = 0; i < d.size(); ++i) {
        if (d[i] > median)
            hash.words[i / 64] |= quint64(1) << (i % 64);
    }
    return hash;
}

// The coefficients of the picture mirrored left to right (horizontal frequencies of even index, i.e. odd
// frequency, change sign), flipped top to bottom (the same for the vertical ones) and/or transposed.
Coefficients transformed(const Coefficients& d, bool mirror, bool flip, bool transpose)
{
    Coefficients out{};
    for (int u = 0; u < Frequencies; ++u) {
        for (int v = 0; v < Frequencies; ++v) {
            float value = d[size_t(u * Frequencies + v)];
            // Frequency f = index + 1; the sign changes for odd f, that is for an even index.
            if (mirror && v % 2 == 0)
                value = -value;
            if (flip && u % 2 == 0)
                value = -value;
            const int row = transpose ? v : u, column = transpose ? u : v;
            out[size_t(row * Frequencies + column)] = value;
        }
    }
    return out;
}

// The pixels of `inner` as a picture of their own, read in place (the picture outlives it).
QImage innerView(const QImage& picture, const QRect& inner)
{
    const QImage source = picture.format() == QImage::Format_RGB32 ? picture
                                                                   : picture.convertToFormat(QImage::Format_RGB32);
    if (source.constBits() != picture.constBits())
        return source.copy(inner);
    return QImage(source.constScanLine(inner.top()) + inner.left() * 4, inner.width(), inner.height(),
                  source.bytesPerLine(), QImage::Format_RGB32);
}

int detailOf(const Grid& grid)
{
    double sum = 0;
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x + 1 < Side; ++x) {
            sum += std::abs(grid[size_t(y * Side + x + 1)] - grid[size_t(y * Side + x)]);
            sum += std::abs(grid[size_t(x + 1) * Side + y] - grid[size_t(x * Side + y)]);
        }
    }
    const double mean = sum / (2.0 * Side * (Side - 1));
    return int(std::min(100.0, mean / 2.5 * 100.0));
}

} // namespace

QByteArray PerceptualHash::toBytes() const
{
    QByteArray bytes(Bytes, '\0');
    for (int i = 0; i < Bytes; ++i)
        bytes[i] = char((words[size_t(i / 8)] >> (8 * (i % 8))) & 0xff);
    return bytes;
}

std::optional<PerceptualHash> PerceptualHash::fromBytes(const QByteArray& bytes)
{
    if (bytes.size() != Bytes)
        return std::nullopt;
    PerceptualHash hash;
    for (int i = 0; i < Bytes; ++i)
        hash.words[size_t(i / 8)] |= quint64(uchar(bytes[i])) << (8 * (i % 8));
    return hash;
}

HashedPicture hashPicture(const QImage& picture)
{
    const Grid grid = luminance(picture);
    const Coefficients d = dct(grid);
    HashedPicture result;
    int index = 0;
    for (const bool transpose : {false, true}) {
        for (const bool flip : {false, true}) {
            for (const bool mirror : {false, true})
                result.hashes.versions[size_t(index++)] = bitsAboveMedian(transformed(d, mirror, flip, transpose));
        }
    }
    result.detail = detailOf(grid);
    if (!picture.isNull()) {
        const int dx = int(picture.width() * CroppedShare + 0.5), dy = int(picture.height() * CroppedShare + 0.5);
        const QRect inner = picture.rect().adjusted(dx, dy, -dx, -dy);
        result.cropped = bitsAboveMedian(dct(luminance(inner.isEmpty() ? picture : innerView(picture, inner))));
    }
    return result;
}

PerceptualHash perceptualHash(const QImage& picture)
{
    return hashPicture(picture).hashes.upright();
}

} // namespace tevrak::imaging
