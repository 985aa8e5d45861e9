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

    // A new key's line put into the file where it belongs: the bytes from
    // `offset` to the end move after the line.
    struct Insertion {
        qint64 offset = 0;
        QByteArray bytes;       // the key's line, then the bytes it moves
        qint64 keysAfter = 0;   // the key lines moved
        qint32 fingerprint = 0; // the whole file's, with the line put in
    };
    // The key's place in the file at `path`, whose fingerprint is `fingerprint`,
    // found by halving over the file's bytes in the engine's order (numbers
    // before texts, texts by their UTF-8 bytes). Only the lines met on the way
    // and the bytes after the place are read, so the cost follows the rows
    // after the new one, not the table's size. nullopt when the file cannot be
    // read or a line met is not a plain text-and-number key.
    static std::optional<Insertion> insertion(const QString& path, qint32 fingerprint,
                                              const QVector<QVariant>& key);
    // Writes an insertion into the file in place. Not through a temporary
    // file: a write cut short leaves a file whose fingerprint differs from the
    // one its table keeps, which is written anew from the table.
    static void insert(const QString& path, const Insertion& insertion);

    // Tells whether the file is as it was when the stamp was taken, without
    // reading it: which file the name leads to, its size and modification time.
    struct Stamp {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    // nullopt when there is no such file.
    static std::optional<Stamp> stamp(const QString& path);

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
