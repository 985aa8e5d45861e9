#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace tevrak::records {

// What createEmptyTables() did: the table files it made and those it found.
struct TableCreation {
    QStringList created; // file paths
    QStringList kept;
};

// The repair-status rows (Code, Status) that a new Status table holds; one of
// them is "ซ่อมเสร็จ", the status that ends a car's pending time.
QList<QPair<QString, QString>> standardStatuses();

// Installs the claim database in `folder` (created when missing): each of the
// six table files that does not exist yet is made empty with its fields and
// primary index (Status with its standard rows), together with its .PX file.
// A table file that exists is never touched, whatever it holds; only a missing
// .PX beside it is written from its rows. Safe to run any number of times.
// Raises tevrak::Error naming the file that could not be made.
TableCreation createEmptyTables(const QString& folder);

} // namespace tevrak::records
