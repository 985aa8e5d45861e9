#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <optional>

namespace tevrak::records {

// The primary index file (.PX) beside a keyed table's .DB file: a text in the
// Thai code page (CP874) with CR LF line ends. The first line holds the key
// field names separated by TAB; then one line per row, in key order, holds the
// row's key values separated by TAB.
//
// The table file keeps the fingerprint of the .PX contents that belong to its
// rows (see DatabaseConnection): a .PX whose fingerprint differs is out of step.
class PrimaryIndexFile {
public:
    // The file's bytes for rows given as their key values (already in key order).
    static QByteArray contents(const QStringList& keyFields, const QList<QVector<QVariant>>& keyRows);

    // `contents` with the line of `key` put in as the key line number `position`
    // (0: right after the field names); nullopt when it has fewer lines than that.
    static std::optional<QByteArray> withKeyAt(const QByteArray& contents, qint64 position,
                                               const QVector<QVariant>& key);

    // The number of key lines of `contents` that come before `key` in the
    // engine's order (numbers before texts, texts by their UTF-8 bytes), found
    // by halving; nullopt when a line met on the way is not a plain text and
    // number key.
    static std::optional<qint64> keysBefore(const QByteArray& contents, const QVector<QVariant>& key);

    // A 32-bit fingerprint of the file's bytes (CRC-32).
    static qint32 fingerprint(const QByteArray& contents);

    // The file's bytes; nullopt when it cannot be read.
    static std::optional<QByteArray> read(const QString& path);

    // Writes the file through a temporary file beside it that is renamed over
    // it, so the file is always whole. It is not flushed to the disk: a file
    // lost with the power no longer matches its table's fingerprint and is
    // written anew from the table. Raises tevrak::Error naming the file.
    static void write(const QString& path, const QByteArray& contents);
};

} // namespace tevrak::records
