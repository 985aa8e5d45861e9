#include "intake/guard/PrintBackfill.h"

#include "imaging/Pictures.h"
#include "intake/guard/PhotoPrint.h"
#include "intake/guard/PrintTable.h"
#include "platform/core/ClaimFileName.h"
#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <sys/resource.h>
#include <unistd.h>

namespace tevrak::intake::guard {

using platform::ClaimFileName;

QStringList claimFolderNames()
{
    const QString inbox = platform::localPath(platform::paths::inbox);
    const QString outbox = QFileInfo(platform::localPath(platform::paths::outbox)).fileName();
    QStringList names = QDir(inbox).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    names.removeIf([&outbox](const QString& name) {
        return name.compare(outbox, Qt::CaseInsensitive) == 0 || name.startsWith(QLatin1Char('.'));
    });
    return names;
}

namespace {

// The moment a picture was filed, as near as the file tells it: its creation in the claim folder where the
// file system keeps it, otherwise its last change.
QDateTime filedMoment(const QString& localFile)
{
    const QFileInfo info(localFile);
    const QDateTime born = info.birthTime();
    return born.isValid() ? born : info.lastModified();
}

} // namespace

BackfillProgress backfillPrints(const QString& printsFile, const std::atomic<bool>& stop,
                                const std::function<void(const BackfillProgress&)>& afterFolder)
{
    PrintTable prints(printsFile);
    BackfillProgress progress;
    for (const QString& claim : claimFolderNames()) {
        if (stop)
            break;
        const QString folder = platform::paths::claimFolder(claim);
        const QStringList names =
            platform::listFiles(folder + QStringLiteral("\\*.jpg;") + folder + QStringLiteral("\\*.gif"));
        QSet<QString> printed;
        for (const QString& name : prints.printedNamesOf(claim))
            printed.insert(name.toCaseFolded());
        std::vector<PhotoPrint> found;
        for (const QString& name : names) {
            if (stop)
                return progress;
            const std::optional<int> sequence = ClaimFileName::sequenceOf(name);
            const auto category = sequence ? platform::categoryOfSequence(*sequence) : std::nullopt;
            if (!category || printed.contains(name.toCaseFolded()))
                continue;
            const QString localFile = platform::localPath(folder + QLatin1Char('\\') + name);
            PhotoPrint print;
            print.claim = claim;
            print.category = *category;
            print.fileName = name;
            try {
                print.facts = readPictureFacts(localFile);
            } catch (const Error&) {
                continue; // unreadable now; the next run tries again
            }
            print.filedAt = filedMoment(localFile);
            found.push_back(std::move(print));
        }
        prints.add(found);
        ++progress.folders;
        progress.printed += int(found.size());
        if (afterFolder)
            afterFolder(progress);
    }
    return progress;
}

PrintBackfillThread::PrintBackfillThread(QString printsFile, QObject* parent)
    : QThread(parent), m_printsFile(std::move(printsFile))
{
}

PrintBackfillThread::~PrintBackfillThread()
{
    m_stop = true;
    wait();
}

QString PrintBackfillThread::failure() const
{
    return isFinished() ? m_failure : QString();
}

void PrintBackfillThread::run()
{
    // Linux schedules threads one by one: the lowest share of the processor for this one alone, so the
    // window's thread and the page decoding always come first.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    try {
        backfillPrints(m_printsFile, m_stop);
    } catch (const std::exception& error) {
        m_failure = QString::fromUtf8(error.what());
    }
}

} // namespace tevrak::intake::guard
