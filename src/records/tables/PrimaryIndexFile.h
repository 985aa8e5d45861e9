#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace tevrak::records {

// The primary index file (.PX) beside a keyed table's .DB file: a text in the
// Thai code page (CP874) with CR LF line ends. The first line holds the key
// field names separated by TAB; then one line per row, in key order, holds the
// row's key values separated by TAB.
class PrimaryIndexFile {
public:
    // The file's bytes for rows given as their key values (already in key order).
    static QByteArray contents(const QStringList& keyFields, const QList<QVector<QVariant>>& keyRows);

    // Writes the file through a temporary file beside it that is renamed over
    // it, so the file is always whole. Raises tevrak::Error naming the file.
    static void write(const QString& path, const QByteArray& contents);
};

} // namespace tevrak::records
