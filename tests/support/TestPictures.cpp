#include "support/TestPictures.h"

#include <QPainter>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace tevrak::test {

namespace {

// xorshift32: quick, repeatable noise.
struct Noise {
    quint32 state;
    explicit Noise(unsigned seed) : state(seed ? seed : 0x9e3779b9u) {}
    quint32 next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int around(int amplitude) { return amplitude ? int(next() % quint32(2 * amplitude + 1)) - amplitude : 0; }
};

inline unsigned char clampByte(int v)
{
    return static_cast<unsigned char>(std::clamp(v, 0, 255));
}

void throwingErrorExit(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    throw std::runtime_error(std::string("libjpeg (test picture writer): ") + text);
}

// Little-endian TIFF structure of an EXIF block.
class Tiff {
public:
    QByteArray bytes;
    int pos() const { return int(bytes.size()); }
    void u8(int v) { bytes.append(char(v & 0xff)); }
    void u16(int v)
    {
        u8(v);
        u8(v >> 8);
    }
    void u32(quint32 v)
    {
        u16(int(v & 0xffff));
        u16(int(v >> 16));
    }
    void set32(int at, quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char((v >> (8 * i)) & 0xff);
    }
    // One IFD entry; returns the position of its value field.
    int entry(int tag, int type, quint32 count, quint32 value)
    {
        u16(tag);
        u16(type);
        u32(count);
        const int at = pos();
        if (type == 3 && count == 1) {
            u16(int(value));
            u16(0);
        } else {
            u32(value);
        }
        return at;
    }
};

QByteArray exifPayload(const JpegSpec& options, const QByteArray& thumbnail)
{
    const bool camera = options.makerNoteBytes > 0 || !options.dateTimeOriginal.isEmpty();
    const bool makerNote = options.makerNoteBytes > 0;
    Tiff t;
    t.bytes.append("II*\0", 4);
    t.u32(8);
    // IFD0
    const int count0 = (options.orientation > 0 ? 1 : 0) + 1 + (camera ? 1 : 0);
    t.u16(count0);
    if (options.orientation > 0)
        t.entry(0x0112, 3, 1, quint32(options.orientation));
    t.entry(0x0128, 3, 1, 2); // resolution unit: inches
    const int exifPointer = camera ? t.entry(0x8769, 4, 1, 0) : -1;
    const int nextIfd = t.pos();
    t.u32(0);
    if (camera) {
        const int exifIfd = t.pos();
        t.set32(exifPointer, quint32(exifIfd));
        const int entries = makerNote ? 5 : 4;
        const int dataStart = exifIfd + 2 + 12 * entries + 4;
        const int exposureAt = dataStart, dateAt = dataStart + 8, noteAt = dateAt + 20;
        t.u16(entries);
        t.entry(0x829A, 5, 1, quint32(exposureAt));                        // exposure time
        t.entry(0x9003, 2, 20, quint32(dateAt));                           // date and time taken
        if (makerNote)
            t.entry(0x927C, 7, quint32(options.makerNoteBytes), quint32(noteAt)); // maker note
        t.entry(0xA002, 4, 1, quint32(options.width));
        t.entry(0xA003, 4, 1, quint32(options.height));
        t.u32(0);
        t.u32(1);
        t.u32(125);
        const QByteArray taken =
            options.dateTimeOriginal.isEmpty() ? QByteArray("2024:03:05 10:11:12") : options.dateTimeOriginal.toLatin1();
        t.bytes.append(taken.left(19).leftJustified(19, ' '));
        t.bytes.append('\0');
        Noise noise(options.seed + 7);
        for (int i = 0; i < options.makerNoteBytes; ++i)
            t.u8(int(noise.next()));
    }
    if (!thumbnail.isEmpty()) {
        const int ifd1 = t.pos();
        t.set32(nextIfd, quint32(ifd1));
        const int dataAt = ifd1 + 2 + 12 * 3 + 4;
        t.u16(3);
        t.entry(0x0103, 3, 1, 6); // compression: JPEG
        t.entry(0x0201, 4, 1, quint32(dataAt));
        t.entry(0x0202, 4, 1, quint32(thumbnail.size()));
        t.u32(0);
        t.bytes.append(thumbnail);
    }
    QByteArray payload("Exif\0\0", 6);
    payload.append(t.bytes);
    if (payload.size() > 65533)
        throw std::runtime_error("test picture writer: EXIF block too large for one APP1 marker");
    return payload;
}

template <class RowMaker>
QByteArray compress(int width, int height, int components, int quality, bool progressive,
                    const QByteArray& app1, RowMaker makeRow)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    err.error_exit = throwingErrorExit;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_create_compress(&c);
    QByteArray result;
    try {
        jpeg_mem_dest(&c, &out, &outSize);
        c.image_width = JDIMENSION(width);
        c.image_height = JDIMENSION(height);
        c.input_components = components;
        c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, quality, TRUE);
        if (progressive)
            jpeg_simple_progression(&c);
        if (!app1.isEmpty())
            c.write_JFIF_header = FALSE; // camera files start with their EXIF block
        jpeg_start_compress(&c, TRUE);
        if (!app1.isEmpty())
            jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.constData()),
                              unsigned(app1.size()));
        std::vector<JSAMPLE> row(size_t(width) * size_t(components));
        while (c.next_scanline < c.image_height) {
            makeRow(int(c.next_scanline), row.data());
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&c, rows, 1);
        }
        jpeg_finish_compress(&c);
        result = QByteArray(reinterpret_cast<const char*>(out), qsizetype(outSize));
    } catch (...) {
        jpeg_destroy_compress(&c);
        std::free(out);
        throw;
    }
    jpeg_destroy_compress(&c);
    std::free(out);
    return result;
}

} // namespace

QByteArray encodeJpeg(const QImage& image, int quality)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    return compress(rgb.width(), rgb.height(), 3, quality, false, {},
                    [&](int y, JSAMPLE* row) { std::copy_n(rgb.constScanLine(y), rgb.width() * 3, row); });
}

QImage shapesPicture(QSize size, unsigned seed)
{
    QImage picture(size, QImage::Format_RGB32);
    Noise noise(seed * 2654435761u + 1);
    const auto next = [&noise](int range) { return int(noise.next() % quint32(range)); };
    picture.fill(QColor(next(256), next(256), next(256)));
    QPainter painter(&picture);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        painter.setBrush(QColor(next(256), next(256), next(256)));
        const QRect box(next(size.width()) - size.width() / 8, next(size.height()) - size.height() / 8,
                        size.width() / 8 + next(size.width() / 2), size.height() / 8 + next(size.height() / 2));
        if (i % 2)
            painter.drawEllipse(box);
        else
            painter.drawRect(box);
    }
    return picture;
}

JpegSpec cameraPhoto(int index, bool cameraExif)
{
    JpegSpec photo;
    photo.width = 4000;
    photo.height = 3000;
    photo.quality = 92;
    photo.noise = 18;
    photo.seed = unsigned(index);
    photo.colour = QColor(60 + 15 * index, 120, 200 - 12 * index);
    if (cameraExif) {
        photo.orientation = 1;
        photo.makerNoteBytes = 24000;
        photo.thumbnailSize = QSize(160, 120);
        photo.thumbnailColour = photo.colour;
    }
    return photo;
}

QByteArray jpegBytes(const JpegSpec& options)
{
    QByteArray app1;
    if (options.orientation > 0 || !options.thumbnailSize.isEmpty() || options.makerNoteBytes > 0 ||
        !options.dateTimeOriginal.isEmpty()) {
        QByteArray thumbnail;
        if (!options.thumbnailSize.isEmpty()) {
            QImage small(options.thumbnailSize, QImage::Format_RGB32);
            small.fill(options.thumbnailColour);
            thumbnail = encodeJpeg(small, 80);
        }
        app1 = exifPayload(options, thumbnail);
    }
    if (!options.picture.isNull()) {
        const QImage rgb = options.picture.convertToFormat(QImage::Format_RGB888);
        return compress(
            rgb.width(), rgb.height(), 3, options.quality, options.progressive, app1,
            [&](int y, JSAMPLE* row) { std::copy_n(rgb.constScanLine(y), rgb.width() * 3, row); });
    }
    Noise noise(options.seed);
    const int r0 = options.colour.red(), g0 = options.colour.green(), b0 = options.colour.blue();
    const int w = options.width, h = options.height;
    const int components = options.grayscale ? 1 : options.adobeCmyk ? 4 : 3;
    return compress(w, h, components, options.quality, options.progressive, app1, [&](int y, JSAMPLE* row) {
        const int dy = h > 1 ? (y * 40) / (h - 1) - 20 : 0;
        for (int x = 0; x < w; ++x) {
            const int dx = w > 1 ? (x * 40) / (w - 1) - 20 : 0;
            if (options.adobeCmyk) {
                // Inverted inks without black: the stored values are the red, green and blue levels.
                row[4 * x] = clampByte(r0 + dx + noise.around(options.noise));
                row[4 * x + 1] = clampByte(g0 + dy + noise.around(options.noise));
                row[4 * x + 2] = clampByte(b0 - dx + noise.around(options.noise));
                row[4 * x + 3] = 255;
            } else if (options.grayscale) {
                row[x] = clampByte((r0 + g0 + b0) / 3 + dx + dy + noise.around(options.noise));
            } else {
                row[3 * x] = clampByte(r0 + dx + noise.around(options.noise));
                row[3 * x + 1] = clampByte(g0 + dy + noise.around(options.noise));
                row[3 * x + 2] = clampByte(b0 - dx + noise.around(options.noise));
            }
        }
    });
}

void writeJpeg(const QString& path, const JpegSpec& options)
{
    writeFile(path, jpegBytes(options));
}

QImage noisyImage(QSize size, QColor colour, int amplitude, unsigned seed)
{
    QImage image(size, QImage::Format_RGB32);
    Noise noise(seed);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb(clampByte(colour.red() + noise.around(amplitude)),
                           clampByte(colour.green() + noise.around(amplitude)),
                           clampByte(colour.blue() + noise.around(amplitude)));
    }
    return image;
}

namespace {

// GIF LZW data that uses literal codes only: a clear code every 250 pixels keeps the code width at 9 bits,
// which every decoder reads.
class LzwWriter {
public:
    QByteArray blocks;
    void code(int value)
    {
        bits_ |= quint32(value) << count_;
        count_ += 9;
        while (count_ >= 8) {
            byte(int(bits_ & 0xff));
            bits_ >>= 8;
            count_ -= 8;
        }
    }
    void pixel(int index)
    {
        if (sinceClear_ == 250) {
            code(256);
            sinceClear_ = 0;
        }
        code(index);
        ++sinceClear_;
    }
    void start()
    {
        code(256);
        sinceClear_ = 0;
    }
    void finish()
    {
        code(257);
        if (count_ > 0)
            byte(int(bits_ & 0xff));
        flushBlock();
        blocks.append('\0');
    }

private:
    void byte(int b)
    {
        block_.append(char(b));
        if (block_.size() == 255)
            flushBlock();
    }
    void flushBlock()
    {
        if (block_.isEmpty())
            return;
        blocks.append(char(block_.size()));
        blocks.append(block_);
        block_.clear();
    }
    quint32 bits_ = 0;
    int count_ = 0;
    int sinceClear_ = 0;
    QByteArray block_;
};

void le16(QByteArray& out, int v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

} // namespace

QByteArray gifBytes(const QImage& source, const GifSpec& options)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();

    // Palette: the exact colours when there are at most 255, else a 6 x 6 x 6 cube.
    QHash<QRgb, int> indexOf;
    std::vector<QRgb> palette;
    bool transparency = false;
    bool exact = true;
    for (int y = 0; y < h && exact; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) == 0) {
                transparency = true;
                continue;
            }
            const QRgb rgb = line[x] | 0xff000000u;
            if (!indexOf.contains(rgb)) {
                if (palette.size() == 255) {
                    exact = false;
                    break;
                }
                indexOf.insert(rgb, int(palette.size()));
                palette.push_back(rgb);
            }
        }
    }
    if (!exact) {
        palette.clear();
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    palette.push_back(qRgb(r * 51, g * 51, b * 51));
        for (int y = 0; y < h; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < w; ++x)
                transparency = transparency || qAlpha(line[x]) == 0;
        }
    }
    const int transparentIndex = 255;
    auto index = [&](QRgb pixel) {
        if (qAlpha(pixel) == 0)
            return transparentIndex;
        if (exact)
            return indexOf.value(pixel | 0xff000000u);
        return ((qRed(pixel) + 25) / 51) * 36 + ((qGreen(pixel) + 25) / 51) * 6 + (qBlue(pixel) + 25) / 51;
    };

    const QSize screen = options.screenSize.isEmpty() ? QSize(w, h) : options.screenSize;
    const QSize frame = options.declaredFrameSize.isEmpty() ? QSize(w, h) : options.declaredFrameSize;
    QByteArray out("GIF89a");
    le16(out, screen.width());
    le16(out, screen.height());
    out.append(char(0xF7)); // global table of 256 colours, 8 bits per primary
    out.append('\0');
    out.append('\0');
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < int(palette.size()) ? palette[size_t(i)] : qRgb(0, 0, 0);
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
    if (transparency) {
        const char gce[] = {'\x21', '\xF9', '\x04', '\x01', '\0', '\0', char(transparentIndex), '\0'};
        out.append(gce, sizeof gce);
    }
    out.append('\x2C');
    le16(out, options.frameOffset.x());
    le16(out, options.frameOffset.y());
    le16(out, frame.width());
    le16(out, frame.height());
    out.append(options.interlaced ? '\x40' : '\0');
    out.append('\x08'); // LZW minimum code size

    std::vector<int> order;
    if (options.interlaced) {
        const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = starts[p]; y < h; y += steps[p])
                order.push_back(y);
    } else {
        for (int y = 0; y < h; ++y)
            order.push_back(y);
    }
    LzwWriter lzw;
    lzw.start();
    for (int y : order) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            lzw.pixel(index(line[x]));
    }
    lzw.finish();
    out.append(lzw.blocks);
    if (options.trailer)
        out.append('\x3B');
    return out;
}

void writeGif(const QString& path, const QImage& image, const GifSpec& options)
{
    writeFile(path, gifBytes(image, options));
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file " + path.toStdString());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read test file " + path.toStdString());
    return file.readAll();
}

QByteArray truncated(const QByteArray& bytes, qsizetype keep)
{
    return bytes.left(keep);
}

QByteArray jpegDeclaring(int width, int height)
{
    JpegSpec options;
    options.width = 64;
    options.height = 48;
    QByteArray bytes = jpegBytes(options);
    for (qsizetype i = 2; i + 9 < bytes.size(); ++i) {
        const auto marker = static_cast<unsigned char>(bytes[i + 1]);
        if (static_cast<unsigned char>(bytes[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            bytes[i + 5] = char((height >> 8) & 0xff);
            bytes[i + 6] = char(height & 0xff);
            bytes[i + 7] = char((width >> 8) & 0xff);
            bytes[i + 8] = char(width & 0xff);
            return bytes;
        }
    }
    throw std::runtime_error("test picture writer: no frame header in the JPEG");
}

QByteArray gifDeclaring(int width, int height)
{
    GifSpec options;
    options.screenSize = QSize(width, height);
    options.declaredFrameSize = QSize(width, height);
    return gifBytes(noisyImage(QSize(16, 16), QColor(90, 90, 200), 10), options);
}

QByteArray textFile()
{
    return QByteArray("Claim 12345678: photos of the front bumper follow tomorrow.\r\n"
                      "Please call the garage before noon.\r\n");
}

} // namespace tevrak::test
