#include "imaging/ExifBlock.h"

#include <cstring>
#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

namespace tevrak::imaging {

namespace {

// "YYYY:MM:DD HH:MM:SS" as cameras write it; anything else (blanks, "0000:00:00 00:00:00") is no date.
QDateTime parseExifDateTime(const ExifEntry* entry)
{
    if (!entry || entry->format != EXIF_FORMAT_ASCII || !entry->data || entry->size < 19)
        return {};
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(entry->data), 19);
    const QDateTime moment = QDateTime::fromString(text, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    return moment.isValid() ? moment : QDateTime();
}

} // namespace

void ExifBlock::Release::operator()(_ExifData* data) const
{
    exif_data_unref(data);
}

bool ExifBlock::looksLikeExif(const unsigned char* data, size_t size)
{
    return data != nullptr && size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0;
}

ExifBlock::ExifBlock(const unsigned char* data, size_t size)
{
    if (!looksLikeExif(data, size) || size > 0xFFFF)
        return;
    data_.reset(exif_data_new());
    if (!data_)
        return;
    // Read the block as it stands: no repairs, no tags added.
    exif_data_unset_option(data_.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data_.get(), data, static_cast<unsigned int>(size));

    if (ExifContent* ifd0 = data_->ifd[EXIF_IFD_0]) {
        ExifEntry* entry = exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION);
        if (entry && entry->format == EXIF_FORMAT_SHORT && entry->components >= 1 && entry->data &&
            entry->size >= 2) {
            const int value = exif_get_short(entry->data, exif_data_get_byte_order(data_.get()));
            if (value >= 1 && value <= 8)
                orientation_ = value;
        }
    }
    if (ExifContent* exifIfd = data_->ifd[EXIF_IFD_EXIF])
        captureTime_ = parseExifDateTime(exif_content_get_entry(exifIfd, EXIF_TAG_DATE_TIME_ORIGINAL));
    if (data_->data && data_->size > 0) {
        thumbnail_ = data_->data;
        thumbnailSize_ = data_->size;
    }
}

ExifBlock::~ExifBlock() = default;

} // namespace tevrak::imaging
