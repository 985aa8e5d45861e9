#pragma once

#include "records/tables/EmptyTables.h"

#include <QList>
#include <QString>

namespace tevrak::records {

// What createWorkstation() did.
struct WorkstationCreation {
    struct Folder {
        QString path; // local path
        bool created = false;
    };
    QList<Folder> folders; // the fixed folders, in the order they were made
    TableCreation tables;
};

// Prepares drive C: for the program: the fixed folders (picture,
// picture\transfer, claim\db, LOAD, LOAD\ALL) and the empty claim tables.
// Folders and tables that exist are left exactly as they are. Raises
// tevrak::Error naming the folder or file that could not be made; what was
// made before stays.
WorkstationCreation createWorkstation();

} // namespace tevrak::records
