#include "records/tables/WorkstationCreation.h"

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "platform/core/FileSystem.h"

namespace tevrak::records {

WorkstationCreation createWorkstation()
{
    namespace paths = platform::paths;
    WorkstationCreation result;
    for (const QString& folder : {paths::inbox, paths::outbox, paths::database, paths::load, paths::loadAll}) {
        const bool existed = platform::folderExists(folder);
        if (!existed && !platform::createFolder(folder))
            throw Error(QStringLiteral("สร้างโฟลเดอร์ไม่ได้\n%1").arg(platform::localPath(folder)));
        result.folders.append({platform::localPath(folder), !existed});
    }
    result.tables = createEmptyTables(platform::localPath(paths::database));
    return result;
}

} // namespace tevrak::records
