#include "imaging/JpegDecoder.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "imaging/ExifBlock.h"
#include "imaging/PictureFile.h"
#include "platform/core/Error.h"

namespace tevrak::imaging {

namespace {

// libjpeg's errors leave its frames through longjmp back to the guarded() call that entered them. Between
// the setjmp and the longjmp only C frames and lambda bodies holding plain values run, so no destructor is
// skipped. Exceptions are thrown only after guarded() has returned.

constexpr size_t kReadChunk = 256 * 1024;

enum class Failure { None, Error, Truncated };

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    Failure failure;
    int code;
    bool strict;    // any warning fails
    bool endOfFile; // the source has run out of data
    char text[JMSG_LENGTH_MAX];
};

void onErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    err->code = cinfo->err->msg_code;
    (*cinfo->err->format_message)(cinfo, err->text);
    err->failure = Failure::Error;
    std::longjmp(err->jump, 1);
}

// Warnings (level -1) are damaged data that libjpeg decodes through; they are accepted, as every viewer
// does. The end of the file is different: libjpeg reads a little ahead, so reaching the end is harmless
// when the data was complete (a file that only lacks its end marker). It means a truncated file once
// libjpeg then finds data missing, which it reports with a further warning. A strict manager (the EXIF
// thumbnail, which is only used when it is flawless) fails at the first warning.
void onEmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    ++cinfo->err->num_warnings;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) {
        err->endOfFile = true;
        if (!err->strict)
            return;
    } else if (!err->strict && !err->endOfFile) {
        return;
    }
    err->code = cinfo->err->msg_code;
    (*cinfo->err->format_message)(cinfo, err->text);
    err->failure = Failure::Truncated;
    std::longjmp(err->jump, 1);
}

void onOutputMessage(j_common_ptr) {}

void installErrorManager(ErrorManager& err, bool strict)
{
    err.strict = strict;
    err.endOfFile = false;
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onErrorExit;
    err.pub.emit_message = onEmitMessage;
    err.pub.output_message = onOutputMessage;
    err.failure = Failure::None;
    err.code = 0;
    err.text[0] = '\0';
}

template <class Body> bool guarded(ErrorManager& err, Body&& body)
{
    err.failure = Failure::None;
    if (setjmp(err.jump) != 0)
        return false;
    body();
    return true;
}

// Reads the file through one reused buffer.
struct FileSource {
    jpeg_source_mgr pub;
    int fd;
    JOCTET* buffer;
    size_t capacity;
    int readErrno;
};

void sourceInit(j_decompress_ptr) {}
void sourceTerm(j_decompress_ptr) {}

boolean sourceFill(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<FileSource*>(cinfo->src);
    ssize_t got;
    do {
        got = ::read(src->fd, src->buffer, src->capacity);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        src->readErrno = errno;
        ERREXIT(cinfo, JERR_FILE_READ);
    }
    if (got == 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        got = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = static_cast<size_t>(got);
    return TRUE;
}

void sourceSkip(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<FileSource*>(cinfo->src);
    if (count <= 0)
        return;
    if (static_cast<size_t>(count) <= src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= static_cast<size_t>(count);
        return;
    }
    const off_t rest = static_cast<off_t>(count - static_cast<long>(src->pub.bytes_in_buffer));
    src->pub.bytes_in_buffer = 0;
    if (::lseek(src->fd, rest, SEEK_CUR) < 0) {
        src->readErrno = errno;
        ERREXIT(cinfo, JERR_FILE_READ);
    }
}

bool isCmyk(J_COLOR_SPACE space)
{
    return space == JCS_CMYK || space == JCS_YCCK;
}

bool swapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// libjpeg's output size for scale num/8.
int scaled(JDIMENSION side, int num)
{
    return static_cast<int>((static_cast<qint64>(side) * num + 7) / 8);
}

// The smallest n/8 whose output, once turned upright, covers the slot; 8 when none does.
int coveringScale(JDIMENSION width, JDIMENSION height, QSize slot, int orientation)
{
    for (int num = 1; num < 8; ++num) {
        int w = scaled(width, num);
        int h = scaled(height, num);
        if (swapsSides(orientation))
            std::swap(w, h);
        if (w >= slot.width() && h >= slot.height())
            return num;
    }
    return 8;
}

// Adobe CMYK JPEGs store inverted ink values; others store them plainly.
void cmykToRgb32(const JSAMPLE* in, QRgb* out, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, in += 4) {
        int c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
    }
}

} // namespace

struct JpegDecoder::Impl {
    jpeg_decompress_struct main{};
    ErrorManager mainErr{};
    bool mainReady = false;
    jpeg_decompress_struct embedded{};
    ErrorManager embeddedErr{};
    bool embeddedReady = false;
    FileSource source{};
    std::vector<JOCTET> readBuffer;
    std::vector<JSAMPLE> cmykRow;

    Impl() : readBuffer(kReadChunk)
    {
        installErrorManager(mainErr, false);
        main.err = &mainErr.pub;
        mainReady = guarded(mainErr, [this] {
            jpeg_create_decompress(&main);
            jpeg_save_markers(&main, JPEG_APP0 + 1, 0xFFFF);
        });
        installErrorManager(embeddedErr, true);
        embedded.err = &embeddedErr.pub;
        embeddedReady = guarded(embeddedErr, [this] { jpeg_create_decompress(&embedded); });

        source.pub.init_source = sourceInit;
        source.pub.fill_input_buffer = sourceFill;
        source.pub.skip_input_data = sourceSkip;
        source.pub.resync_to_restart = jpeg_resync_to_restart;
        source.pub.term_source = sourceTerm;
        source.buffer = readBuffer.data();
        source.capacity = readBuffer.size();
    }

    ~Impl()
    {
        if (mainReady)
            jpeg_destroy_decompress(&main);
        if (embeddedReady)
            jpeg_destroy_decompress(&embedded);
    }

    [[noreturn]] void fail(PictureFile& file, j_decompress_ptr cinfo, const ErrorManager& err)
    {
        jpeg_abort_decompress(cinfo);
        if (err.failure == Failure::Truncated || err.endOfFile)
            file.fail(QStringLiteral("the file is truncated (it ends before the picture data does)"));
        switch (err.code) {
        case JERR_NO_SOI: {
            const QString kind = file.sniffKind();
            if (kind.isEmpty() || kind == QLatin1String("a JPEG picture"))
                file.fail(QStringLiteral("it is not a JPEG picture"));
            file.fail(QStringLiteral("it is not a JPEG picture (the file holds %1)").arg(kind));
        }
        case JERR_FILE_READ:
            file.fail(QStringLiteral("the file cannot be read (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(source.readErrno))));
        case JERR_OUT_OF_MEMORY:
            file.fail(QStringLiteral("there is not enough memory to decode it"));
        default:
            file.fail(QStringLiteral("the JPEG data is damaged (%1)").arg(QString::fromLocal8Bit(err.text)));
        }
    }

    void checkLimits(PictureFile& file, j_decompress_ptr cinfo)
    {
        const PictureLimits limits = pictureLimits();
        const qint64 w = cinfo->image_width, h = cinfo->image_height;
        if (w > limits.maxSide || h > limits.maxSide || w * h > limits.maxPixels) {
            jpeg_abort_decompress(cinfo);
            file.fail(QStringLiteral("its header declares %1 x %2 pixels, more than the %3 pixels a side "
                                     "and %4 megapixels that can be opened")
                          .arg(w)
                          .arg(h)
                          .arg(limits.maxSide)
                          .arg(limits.maxPixels / 1'000'000.0, 0, 'g', 4));
        }
    }

    // Decodes the image whose header `cinfo` has read, at scale num/8, into a new RGB32 image.
    // Returns a null image when libjpeg failed (the caller reports or falls back); the error manager tells
    // why.
    QImage decodePixels(j_decompress_ptr cinfo, ErrorManager& err, int num)
    {
        const bool cmyk = isCmyk(cinfo->jpeg_color_space);
        const bool inverted = cinfo->saw_Adobe_marker;
        if (!guarded(err, [cinfo, num, cmyk] {
                cinfo->scale_num = static_cast<unsigned int>(num);
                cinfo->scale_denom = 8;
                cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
                jpeg_start_decompress(cinfo);
            }))
            return {};
        const JDIMENSION width = cinfo->output_width, height = cinfo->output_height;
        QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
        if (image.isNull()) {
            err.failure = Failure::Error;
            err.code = JERR_OUT_OF_MEMORY;
            return {};
        }
        uchar* const bits = image.bits();
        const qsizetype stride = image.bytesPerLine();
        if (cmyk && cmykRow.size() < static_cast<size_t>(width) * 4)
            cmykRow.resize(static_cast<size_t>(width) * 4);
        JSAMPLE* const cmykBuffer = cmykRow.data();
        const bool ok = guarded(err, [=] {
            while (cinfo->output_scanline < height) {
                const JDIMENSION y = cinfo->output_scanline;
                JSAMPROW row = cmyk ? cmykBuffer : bits + y * stride;
                if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
                    break;
                if (cmyk)
                    cmykToRgb32(cmykBuffer, reinterpret_cast<QRgb*>(bits + y * stride), width, inverted);
            }
        });
        if (!ok)
            return {};
        if (cinfo->output_scanline < height) {
            err.failure = Failure::Truncated;
            return {};
        }
        // Anything after the last row (trailing markers, the end marker) is not needed.
        jpeg_abort_decompress(cinfo);
        return image;
    }

    // Tries the EXIF thumbnail; a null image when it cannot serve.
    QImage embeddedThumbnail(const ExifBlock& exif, JDIMENSION photoWidth, JDIMENSION photoHeight, QSize slot,
                             ThumbnailInfo* info)
    {
        if (!embeddedReady || exif.thumbnail() == nullptr || exif.thumbnailSize() < 4)
            return {};
        j_decompress_ptr cinfo = &embedded;
        const unsigned char* data = exif.thumbnail();
        const unsigned long size = exif.thumbnailSize();
        embeddedErr.endOfFile = false;
        jpeg_abort_decompress(cinfo);
        if (!guarded(embeddedErr, [cinfo, data, size] {
                jpeg_mem_src(cinfo, data, size);
                jpeg_read_header(cinfo, TRUE);
            })) {
            jpeg_abort_decompress(cinfo);
            return {};
        }
        const qint64 tw = cinfo->image_width, th = cinfo->image_height;
        const PictureLimits limits = pictureLimits();
        // Same aspect ratio as the photo within 2 %: a cropped or rotated-by-an-editor photo keeps a stale
        // thumbnail, which must not stand for it.
        const double ratio = double(tw * photoHeight) / double(th * photoWidth);
        bool usable = tw > 0 && th > 0 && tw <= limits.maxSide && th <= limits.maxSide &&
                      tw * th <= limits.maxPixels && ratio >= 0.98 && ratio <= 1.02;
        const int orientation = exif.orientation();
        if (usable) {
            const qint64 uw = swapsSides(orientation) ? th : tw, uh = swapsSides(orientation) ? tw : th;
            usable = uw * 2 >= slot.width() && uh * 2 >= slot.height();
        }
        if (!usable) {
            jpeg_abort_decompress(cinfo);
            return {};
        }
        const int num = coveringScale(cinfo->image_width, cinfo->image_height, slot, orientation);
        QImage image = decodePixels(cinfo, embeddedErr, num);
        if (image.isNull()) {
            jpeg_abort_decompress(cinfo);
            return {};
        }
        if (info) {
            info->source = ThumbnailSource::ExifThumbnail;
            info->scaleNum = num;
        }
        return image;
    }

    // Reads the header of the file's JPEG stream; the caller aborts or decodes.
    void readHeader(PictureFile& file)
    {
        if (!mainReady)
            file.fail(QStringLiteral("there is not enough memory to decode it"));
        // A decoder left in the middle of a picture (an exception between two libjpeg calls) starts afresh.
        jpeg_abort_decompress(&main);
        source.fd = file.fd();
        source.readErrno = 0;
        source.pub.next_input_byte = nullptr;
        source.pub.bytes_in_buffer = 0;
        main.src = &source.pub;
        mainErr.endOfFile = false;
        j_decompress_ptr cinfo = &main;
        if (!guarded(mainErr, [cinfo] { jpeg_read_header(cinfo, TRUE); }))
            fail(file, cinfo, mainErr);
        checkLimits(file, cinfo);
    }

    int orientationOf(const ExifBlock* exif) const { return exif ? exif->orientation() : 1; }

    std::unique_ptr<ExifBlock> exifBlock()
    {
        for (jpeg_saved_marker_ptr marker = main.marker_list; marker; marker = marker->next) {
            if (marker->marker == JPEG_APP0 + 1 &&
                ExifBlock::looksLikeExif(marker->data, marker->data_length))
                return std::make_unique<ExifBlock>(marker->data, marker->data_length);
        }
        return nullptr;
    }
};

namespace {

// True when the file's last two bytes are the JPEG end marker: the file was not cut short.
bool endsWithEndMarker(const PictureFile& file)
{
    unsigned char tail[2] = {};
    return file.size() >= 4 && file.readAt(tail, 2, file.size() - 2) == 2 && tail[0] == 0xFF &&
           tail[1] == JPEG_EOI;
}

} // namespace

JpegDecoder::JpegDecoder() : d(std::make_unique<Impl>()) {}
JpegDecoder::~JpegDecoder() = default;

QImage JpegDecoder::thumbnail(PictureFile& file, QSize slot, ThumbnailInfo* info)
{
    d->readHeader(file);
    j_decompress_ptr cinfo = &d->main;
    const std::unique_ptr<ExifBlock> exif = d->exifBlock();
    const int orientation = d->orientationOf(exif.get());
    if (info) {
        info->pictureSize = QSize(int(cinfo->image_width), int(cinfo->image_height));
        info->orientation = orientation;
    }
    if (exif && endsWithEndMarker(file)) {
        QImage image = d->embeddedThumbnail(*exif, cinfo->image_width, cinfo->image_height, slot, info);
        if (!image.isNull()) {
            jpeg_abort_decompress(cinfo);
            return applyOrientation(image, orientation);
        }
    }
    const int num = coveringScale(cinfo->image_width, cinfo->image_height, slot, orientation);
    QImage image = d->decodePixels(cinfo, d->mainErr, num);
    if (image.isNull())
        d->fail(file, cinfo, d->mainErr);
    if (info) {
        info->source = ThumbnailSource::DecodedJpeg;
        info->scaleNum = num;
    }
    return applyOrientation(image, orientation);
}

ReducedPhoto JpegDecoder::reducedPhoto(PictureFile& file, QSize cover)
{
    d->readHeader(file);
    j_decompress_ptr cinfo = &d->main;
    const std::unique_ptr<ExifBlock> exif = d->exifBlock();
    const int orientation = d->orientationOf(exif.get());
    const int num = coveringScale(cinfo->image_width, cinfo->image_height, cover, orientation);
    QImage image = d->decodePixels(cinfo, d->mainErr, num);
    if (image.isNull())
        d->fail(file, cinfo, d->mainErr);
    ReducedPhoto photo;
    photo.image = applyOrientation(image, orientation);
    if (exif)
        photo.captureTime = exif->captureTime();
    return photo;
}

QImage JpegDecoder::fullPicture(PictureFile& file)
{
    d->readHeader(file);
    j_decompress_ptr cinfo = &d->main;
    const std::unique_ptr<ExifBlock> exif = d->exifBlock();
    const int orientation = d->orientationOf(exif.get());
    QImage image = d->decodePixels(cinfo, d->mainErr, 8);
    if (image.isNull())
        d->fail(file, cinfo, d->mainErr);
    return applyOrientation(image, orientation);
}

} // namespace tevrak::imaging
