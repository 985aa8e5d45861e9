#include "imaging/GifDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <unistd.h>
#include <vector>

#include "imaging/PictureFile.h"
#include "imaging/Pictures.h"

namespace tevrak::imaging {

namespace {

// giflib reads through this callback, a few bytes at a time, so reads go through a buffer. It must not
// throw (giflib is C): it records what went wrong and returns a short count, which giflib reports.
struct Reader {
    int fd = -1;
    int readErrno = 0;
    bool hitEnd = false;
    size_t start = 0, end = 0;
    unsigned char buffer[32 * 1024];
};

int readBytes(GifFileType* gif, GifByteType* out, int length)
{
    auto* reader = static_cast<Reader*>(gif->UserData);
    int done = 0;
    while (done < length) {
        if (reader->start == reader->end) {
            ssize_t got;
            do {
                got = ::read(reader->fd, reader->buffer, sizeof reader->buffer);
            } while (got < 0 && errno == EINTR);
            if (got < 0) {
                reader->readErrno = errno;
                break;
            }
            if (got == 0) {
                reader->hitEnd = true;
                break;
            }
            reader->start = 0;
            reader->end = static_cast<size_t>(got);
        }
        const size_t take = std::min(static_cast<size_t>(length - done), reader->end - reader->start);
        std::memcpy(out + done, reader->buffer + reader->start, take);
        reader->start += take;
        done += static_cast<int>(take);
    }
    return done;
}

struct CloseGif {
    void operator()(GifFileType* gif) const
    {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};

class FirstFrame {
public:
    explicit FirstFrame(PictureFile& file) : file_(file), reader_(std::make_unique<Reader>())
    {
        reader_->fd = file.fd();
        int error = 0;
        gif_.reset(DGifOpen(reader_.get(), readBytes, &error));
        if (!gif_)
            fail(error);
        screen_ = QSize(gif_->SWidth, gif_->SHeight);
        if (screen_.width() > 0 && screen_.height() > 0)
            checkLimits(screen_.width(), screen_.height());
        readUpToImage();
        const GifImageDesc& desc = gif_->Image;
        checkLimits(desc.Width, desc.Height);
        frame_ = QRect(desc.Left, desc.Top, desc.Width, desc.Height);
        // A screen of 0 x 0 (some writers leave it so) takes the frame's extent.
        canvas_ = (screen_.width() > 0 && screen_.height() > 0)
                      ? QSize(screen_)
                      : QSize(desc.Left + desc.Width, desc.Top + desc.Height);
        checkLimits(canvas_.width(), canvas_.height());
        buildPalette();
    }

    QSize canvas() const { return canvas_; }
    bool hasTransparency() const { return transparent_ >= 0; }
    bool coversCanvas() const { return frame_.contains(QRect(QPoint(0, 0), canvas_)); }

    // Draws the frame's pixels that fall into `area` (canvas coordinates) onto `target`, whose (0, 0) is
    // the area's top-left corner; transparent pixels leave the target as it is. With `onlyNeeded` and a
    // complete file, decoding stops once every row inside the area has arrived.
    void drawInto(QImage& target, const QRect& area, bool onlyNeeded)
    {
        const GifImageDesc& desc = gif_->Image;
        const int x0 = std::max(0, area.left() - desc.Left);
        const int x1 = std::min(desc.Width - 1, area.right() - desc.Left);
        decodeRows(area.top() - desc.Top, area.bottom() - desc.Top, onlyNeeded,
                   [&](int row, const GifPixelType* line) {
                       auto* out = reinterpret_cast<QRgb*>(target.scanLine(desc.Top + row - area.top()));
                       for (int x = x0; x <= x1; ++x) {
                           const int index = line[x];
                           if (index != transparent_)
                               out[desc.Left + x - area.left()] = palette_[static_cast<size_t>(index)];
                       }
                   });
    }

    // The whole canvas reduced to `size` by averaging the pixels that fall into each output pixel (a box
    // filter), on silver where the frame is transparent or leaves the canvas uncovered. Needs memory for
    // the output only, however large the picture.
    QImage reduced(QSize size)
    {
        const int ow = size.width(), oh = size.height();
        const int cw = canvas_.width(), ch = canvas_.height();
        // Which output column / row each canvas column / row falls into, and how many fall into each.
        std::vector<int> columnOf(static_cast<size_t>(cw)), rowOf(static_cast<size_t>(ch));
        std::vector<qint64> columnCount(static_cast<size_t>(ow)), rowCount(static_cast<size_t>(oh));
        for (int x = 0; x < cw; ++x)
            ++columnCount[static_cast<size_t>(columnOf[static_cast<size_t>(x)] = int(qint64(x) * ow / cw))];
        for (int y = 0; y < ch; ++y)
            ++rowCount[static_cast<size_t>(rowOf[static_cast<size_t>(y)] = int(qint64(y) * oh / ch))];
        // Per output pixel: red, green, blue sums and the count of opaque frame pixels.
        std::vector<quint64> sums(static_cast<size_t>(ow) * static_cast<size_t>(oh) * 4, 0);

        const GifImageDesc& desc = gif_->Image;
        const int x0 = std::max(0, -desc.Left);
        const int x1 = std::min(desc.Width - 1, cw - 1 - desc.Left);
        decodeRows(-desc.Top, ch - 1 - desc.Top, false, [&](int row, const GifPixelType* line) {
            quint64* outRow = sums.data() + size_t(rowOf[size_t(desc.Top + row)]) * size_t(ow) * 4;
            for (int x = x0; x <= x1; ++x) {
                const int index = line[x];
                if (index == transparent_)
                    continue;
                const QRgb c = palette_[static_cast<size_t>(index)];
                quint64* cell = outRow + size_t(columnOf[size_t(desc.Left + x)]) * 4;
                cell[0] += quint64(qRed(c));
                cell[1] += quint64(qGreen(c));
                cell[2] += quint64(qBlue(c));
                cell[3] += 1;
            }
        });

        QImage image(size, QImage::Format_RGB32);
        if (image.isNull())
            return image;
        for (int y = 0; y < oh; ++y) {
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            const quint64* in = sums.data() + size_t(y) * size_t(ow) * 4;
            for (int x = 0; x < ow; ++x, in += 4) {
                const quint64 total = quint64(columnCount[size_t(x)] * rowCount[size_t(y)]);
                if (total == 0) {
                    out[x] = kSilver;
                    continue;
                }
                const quint64 silver = (total - in[3]) * 192;
                out[x] =
                    qRgb(int((in[0] + silver + total / 2) / total), int((in[1] + silver + total / 2) / total),
                         int((in[2] + silver + total / 2) / total));
            }
        }
        return image;
    }

private:
    // Decodes the frame's rows in file order (interlaced or not), handing rows firstRow..lastRow (frame
    // coordinates) to onRow(row, pixels). With `onlyNeeded` and a complete file (it ends with the GIF
    // trailer), decoding stops once all of them have arrived; otherwise every row is decoded, so that a
    // truncated file is reported.
    template <class OnRow> void decodeRows(int firstRow, int lastRow, bool onlyNeeded, OnRow&& onRow)
    {
        const GifImageDesc& desc = gif_->Image;
        const int width = desc.Width, height = desc.Height;
        if (width <= 0 || height <= 0)
            return;
        std::vector<GifPixelType> line(static_cast<size_t>(width));
        firstRow = std::max(0, firstRow);
        lastRow = std::min(height - 1, lastRow);
        const int needed = lastRow >= firstRow ? lastRow - firstRow + 1 : 0;
        const bool stopEarly = onlyNeeded && endsWithTrailer();
        int received = 0;

        static constexpr int passStart[] = {0, 4, 2, 1};
        static constexpr int passStep[] = {8, 8, 4, 2};
        const int passes = desc.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = desc.Interlace ? passStart[pass] : 0;
            const int step = desc.Interlace ? passStep[pass] : 1;
            for (int row = start; row < height; row += step) {
                if (stopEarly && received == needed)
                    return;
                if (DGifGetLine(gif_.get(), line.data(), width) == GIF_ERROR)
                    fail(gif_->Error);
                if (row < firstRow || row > lastRow)
                    continue;
                ++received;
                onRow(row, line.data());
            }
        }
    }

    [[noreturn]] void fail(int error) const
    {
        if (reader_->readErrno != 0)
            file_.fail(QStringLiteral("the file cannot be read (%1)")
                           .arg(QString::fromLocal8Bit(std::strerror(reader_->readErrno))));
        if (error == D_GIF_ERR_NOT_GIF_FILE) {
            const QString kind = file_.sniffKind();
            if (kind.isEmpty() || kind == QLatin1String("a GIF picture"))
                file_.fail(QStringLiteral("it is not a GIF picture (its header is damaged)"));
            file_.fail(QStringLiteral("it is not a GIF picture (the file holds %1)").arg(kind));
        }
        if (reader_->hitEnd || error == D_GIF_ERR_EOF_TOO_SOON)
            file_.fail(QStringLiteral("the file is truncated (it ends before the picture data does)"));
        if (error == D_GIF_ERR_NOT_ENOUGH_MEM)
            file_.fail(QStringLiteral("there is not enough memory to decode it"));
        const char* text = GifErrorString(error);
        file_.fail(QStringLiteral("the GIF data is damaged (%1)")
                       .arg(text ? QString::fromLatin1(text) : QString::number(error)));
    }

    void checkLimits(qint64 w, qint64 h) const
    {
        const PictureLimits limits = pictureLimits();
        if (w > limits.maxSide || h > limits.maxSide || w * h > limits.maxPixels)
            file_.fail(QStringLiteral("its header declares %1 x %2 pixels, more than the %3 pixels a side "
                                      "and %4 megapixels that can be opened")
                           .arg(w)
                           .arg(h)
                           .arg(limits.maxSide)
                           .arg(limits.maxPixels / 1'000'000.0, 0, 'g', 4));
    }

    // Passes over extensions up to the first image descriptor, keeping the transparent colour of its
    // graphic control extension.
    void readUpToImage()
    {
        for (;;) {
            GifRecordType type = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif_.get(), &type) == GIF_ERROR)
                fail(gif_->Error);
            switch (type) {
            case IMAGE_DESC_RECORD_TYPE:
                if (DGifGetImageDesc(gif_.get()) == GIF_ERROR)
                    fail(gif_->Error);
                return;
            case EXTENSION_RECORD_TYPE: {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif_.get(), &code, &block) == GIF_ERROR)
                    fail(gif_->Error);
                if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                    transparent_ = (block[1] & 0x01) ? block[4] : -1;
                while (block) {
                    if (DGifGetExtensionNext(gif_.get(), &block) == GIF_ERROR)
                        fail(gif_->Error);
                }
                break;
            }
            case TERMINATE_RECORD_TYPE:
                file_.fail(QStringLiteral("the GIF file holds no picture"));
            default:
                fail(D_GIF_ERR_WRONG_RECORD);
            }
        }
    }

    // The frame's colours for all 256 possible indexes: its own table, else the file's, else grey levels.
    // Indexes beyond the table are black.
    void buildPalette()
    {
        palette_.assign(256, qRgb(0, 0, 0));
        const ColorMapObject* map = gif_->Image.ColorMap ? gif_->Image.ColorMap : gif_->SColorMap;
        if (map && map->Colors) {
            const int count = std::clamp(map->ColorCount, 0, 256);
            for (int i = 0; i < count; ++i)
                palette_[size_t(i)] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
        } else {
            for (int i = 0; i < 256; ++i)
                palette_[size_t(i)] = qRgb(i, i, i);
        }
    }

    bool endsWithTrailer() const
    {
        unsigned char last = 0;
        return file_.readAt(&last, 1, file_.size() - 1) == 1 && last == 0x3B;
    }

    PictureFile& file_;
    std::unique_ptr<Reader> reader_;
    std::unique_ptr<GifFileType, CloseGif> gif_;
    QSize screen_;
    QSize canvas_;
    QRect frame_;
    int transparent_ = -1;
    std::vector<QRgb> palette_;
};

} // namespace

QImage GifDecoder::fullPicture(PictureFile& file)
{
    FirstFrame frame(file);
    const QSize canvas = frame.canvas();
    const bool opaque = !frame.hasTransparency() && frame.coversCanvas();
    QImage image(canvas, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    if (image.isNull())
        file.fail(QStringLiteral("there is not enough memory to decode it"));
    image.fill(opaque ? qRgb(255, 255, 255) : qRgba(0, 0, 0, 0));
    frame.drawInto(image, QRect(QPoint(0, 0), canvas), false);
    return image;
}

QImage GifDecoder::wholeThumbnail(PictureFile& file, QSize slot, QSize* pictureSize)
{
    FirstFrame frame(file);
    const QSize canvas = frame.canvas();
    if (pictureSize)
        *pictureSize = canvas;
    // The smallest size with the picture's proportions that still covers the slot; never enlarged.
    const double factor = std::min(
        1.0, std::max(double(slot.width()) / canvas.width(), double(slot.height()) / canvas.height()));
    const QSize size(std::clamp(int(std::ceil(canvas.width() * factor)), 1, canvas.width()),
                     std::clamp(int(std::ceil(canvas.height() * factor)), 1, canvas.height()));
    QImage image = frame.reduced(size);
    if (image.isNull())
        file.fail(QStringLiteral("there is not enough memory to decode it"));
    return image;
}

QImage GifDecoder::clipCell(PictureFile& file, int index, int columns, int rows, QSize* pictureSize)
{
    FirstFrame frame(file);
    const QSize canvas = frame.canvas();
    if (pictureSize)
        *pictureSize = canvas;
    const int cellWidth = std::max(1, canvas.width() / std::max(1, columns));
    const int cellHeight = std::max(1, canvas.height() / std::max(1, rows));
    const int column = columns > 0 ? index % columns : 0;
    const int row = columns > 0 ? index / columns : 0;
    const QRect area(column * cellWidth, row * cellHeight, cellWidth, cellHeight);
    QImage cell(area.size(), QImage::Format_RGB32);
    if (cell.isNull())
        file.fail(QStringLiteral("there is not enough memory to decode it"));
    cell.fill(kSilver);
    frame.drawInto(cell, area, true);
    return cell;
}

} // namespace tevrak::imaging
