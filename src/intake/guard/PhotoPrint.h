#pragma once

// The print of a filed picture: what identifies its bytes (SHA-256) and, for a photograph, what identifies
// its picture (the perceptual hash, with how much detail it holds) and when the camera took it.

#include "imaging/PerceptualHash.h"
#include "platform/core/ClaimFileName.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace tevrak::intake::guard {

// What a picture file says about itself, before it has a claim.
struct PictureFacts {
    QByteArray sha256;                              // 32 bytes
    std::optional<imaging::HashedPicture> picture; // a JPEG that decodes; never a GIF
    QDateTime captureTime;                          // EXIF DateTimeOriginal; invalid when none is readable
};

// A filed picture's print, as the print table keeps it.
struct PhotoPrint {
    QString claim;
    platform::FilingCategory category = platform::FilingCategory::BeforeRepair;
    QString fileName; // the filed name, "12345678001.jpg"
    QDateTime filedAt;
    PictureFacts facts;
};

// The SHA-256 of a file's bytes; throws Error naming the file when it cannot be read.
QByteArray fileSha256(const QString& localFile);

// Reads a picture file: its digest always; for a JPEG (any name not ending in .GIF) its reduced decode's
// perceptual hash and its capture time, or no picture when it cannot be decoded (the digest still
// stands). Throws Error only when the file cannot be read at all.
PictureFacts readPictureFacts(const QString& localFile);

} // namespace tevrak::intake::guard
