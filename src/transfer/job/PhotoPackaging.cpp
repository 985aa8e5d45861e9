#include "transfer/job/PhotoPackaging.h"

#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/FileSystem.h"
#include "zip/Zip.h"

#include <QFile>

namespace tevrak::transfer {

QStringList outboxGifs()
{
    return platform::listFiles(platform::paths::outboxDocumentMask);
}

QString claimPart(const QString& gifName)
{
    return platform::ClaimFileName::claimPart(gifName);
}

QString archivePath(const QString& gifName)
{
    return platform::paths::outbox + QLatin1Char('\\') + claimPart(gifName) + QStringLiteral(".Zip");
}

QString fileSpec(const QString& gifName)
{
    return platform::paths::outbox + QLatin1Char('\\') + gifName;
}

void applyPackagingSettings(TZip& zip)
{
    zip.ArcType = TArcType::atZip;
    zip.CompressMethod = TCompressMethod::cmDeflate;
    zip.DeflateType = TDeflateType::dtDeflateN;
    zip.StoreFilesOfType = TZip::DefaultStoreFilesOfType();
    zip.Switch = TSwitch::swMove;
    zip.Attributes = fsZeroAttr | fsReadOnly | fsArchive | fsCompressed | fsEncrypted;
    zip.AttributesEx = 0;
    zip.RecurseDirs = false;
    zip.TranslateOemChar = true;
    zip.DefaultExt = ".zip";
}

int packOutboxGifs(TZip& zip, const std::function<void()>& beforeRun, const std::function<void()>& afterRun)
{
    const QStringList names = outboxGifs();
    int stored = 0;
    for (const QString& name : names) {
        zip.SetArchiveFile(platform::nativePath(platform::localPath(archivePath(name))));
        zip.FileSpec.clear();
        zip.FileSpec.push_back(platform::nativePath(platform::localPath(fileSpec(name))));
        if (beforeRun)
            beforeRun();
        stored += zip.Compress();
        if (afterRun)
            afterRun();
    }
    return stored;
}

} // namespace tevrak::transfer
