#include "intake/guard/PhotoPrint.h"

#include "imaging/Pictures.h"
#include "platform/core/Error.h"

#include <QFile>
#include <future>
#include <memory>
#include <openssl/evp.h>

namespace tevrak::intake::guard {

QByteArray fileSha256(const QString& localFile)
{
    QFile file(localFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(localFile, file.errorString()));
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw Error(QStringLiteral("Cannot compute the SHA-256 of %1").arg(localFile));
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(buffer.data(), buffer.size());
        if (count < 0)
            throw Error(QStringLiteral("Cannot read %1: %2").arg(localFile, file.errorString()));
        if (count == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.constData(), size_t(count));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length));
}

PictureFacts readPictureFacts(const QString& localFile)
{
    PictureFacts facts;
    if (imaging::isGifName(localFile)) {
        facts.sha256 = fileSha256(localFile);
        return facts;
    }
    // The digest reads the whole file and costs a few milliseconds on a camera's photo: it runs beside the
    // reduced decode, which takes longer, so the clerk waits for the decode alone.
    std::future<QByteArray> digest = std::async(std::launch::async, fileSha256, localFile);
    try {
        const imaging::ReducedPhoto photo = imaging::loadReducedPhoto(localFile);
        facts.picture = imaging::hashPicture(photo.image);
        facts.captureTime = photo.captureTime;
    } catch (const Error&) {
        // A photo the decoder refuses has no picture print; its bytes are still known.
    }
    facts.sha256 = digest.get();
    return facts;
}

} // namespace tevrak::intake::guard
