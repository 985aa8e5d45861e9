// Fuzz entry point for the picture loaders. The first byte of an input chooses the loader (bit 0: the
// file is named .gif, else .jpg; bit 1: the full picture, else the thumbnail; bit 2: GIF thumbnails of
// the whole picture, else the clip cell); the rest is the file.
// Any outcome but a crash, a hang or a sanitizer report is fine: damaged input must end in tevrak::Error.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "imaging/PerceptualHash.h"
#include "imaging/Pictures.h"
#include "platform/core/Error.h"

namespace {

struct Scratch {
    QString jpg, gif;
    Scratch()
    {
        const QString dir = QDir::tempPath() + QStringLiteral("/tevrak-picture-fuzz-%1").arg(::getpid());
        QDir().mkpath(dir);
        jpg = dir + QStringLiteral("/input.jpg");
        gif = dir + QStringLiteral("/INPUT.GIF");
        // Small limits keep every input quick; the refusal paths are the same code.
        tevrak::imaging::setPictureLimits({4096, 4'000'000});
    }
    ~Scratch()
    {
        QFile::remove(jpg);
        QFile::remove(gif);
        QDir().rmdir(QFileInfo(jpg).absolutePath());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scratch scratch;
    if (size < 1)
        return 0;
    const bool gif = data[0] & 1, full = data[0] & 2;
    const auto gifThumbnail =
        (data[0] & 4) ? tevrak::imaging::GifThumbnail::WholePicture : tevrak::imaging::GifThumbnail::ClipCell;
    const QString& path = gif ? scratch.gif : scratch.jpg;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
    }
    try {
        const QImage image =
            full ? tevrak::imaging::loadFullPicture(path)
                 : tevrak::imaging::loadThumbnail(path, tevrak::imaging::kSlotSize, nullptr, gifThumbnail);
        if (image.isNull() || image.width() <= 0 || image.height() <= 0)
            __builtin_trap(); // the loaders return a picture or throw, never an empty image
        volatile QRgb first = image.pixel(0, 0);
        (void)first;
    } catch (const tevrak::Error&) {
    }
    // The filing prints' reading of a photo: its own data reduced, its EXIF capture time, its hash.
    if (!gif) {
        try {
            const tevrak::imaging::ReducedPhoto photo = tevrak::imaging::loadReducedPhoto(path);
            if (photo.image.isNull())
                __builtin_trap();
            const tevrak::imaging::HashedPicture hashed = tevrak::imaging::hashPicture(photo.image);
            if (hashed.detail < 0 || hashed.detail > 100)
                __builtin_trap();
        } catch (const tevrak::Error&) {
        }
    }
    return 0;
}
