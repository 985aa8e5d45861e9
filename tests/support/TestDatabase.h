#pragma once

// Header-only, so that only tests that link tevrak_tables need it.

#include "platform/core/DriveC.h"
#include "records/tables/EmptyTables.h"

#include <QDir>
#include <QString>

namespace tevrak::test {

// The test process's database folder C:\claim\db.
inline QString databaseFolder()
{
    return platform::localPath(platform::paths::database);
}

// Gives the test process a fresh claim database: the folder C:\claim\db is
// emptied and the six empty tables are made the way tevrak-init makes them.
inline QString freshTestDatabase()
{
    const QString folder = databaseFolder();
    QDir(folder).removeRecursively();
    records::createEmptyTables(folder);
    return folder;
}

} // namespace tevrak::test
