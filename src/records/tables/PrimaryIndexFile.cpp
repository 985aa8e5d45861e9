#include "records/tables/PrimaryIndexFile.h"

#include "platform/core/Cp874.h"
#include "platform/core/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace tevrak::records {

namespace {

QByteArray encoded(const QString& text)
{
    if (const auto bytes = platform::cp874::encode(text))
        return *bytes;
    // A key that the code page cannot hold never passes assignment; should one
    // be stored by other means, the index still lists the row.
    QByteArray bytes;
    for (const QChar c : text)
        bytes += platform::cp874::encode(QString(c)).value_or(QByteArray("?"));
    return bytes;
}

QByteArray keyText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return {};
    if (value.typeId() == QMetaType::Double)
        return QByteArray::number(value.toDouble(), 'g', 15);
    return encoded(value.toString());
}

QByteArray keyLine(const QVector<QVariant>& row)
{
    QByteArray line;
    for (int i = 0; i < row.size(); ++i) {
        if (i > 0)
            line += '\t';
        line += keyText(row[i]);
    }
    return line + "\r\n";
}

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        return true;
    default:
        return false;
    }
}

// The order of one key field's stored value against a line's text of it;
// nullopt when the line's text is not the same kind of value.
std::optional<int> compareField(const QVariant& value, const QByteArray& text)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    if (isNumber(value)) {
        bool ok = false;
        const qint64 stored = text.toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        const qint64 wanted = value.toLongLong();
        return wanted < stored ? -1 : wanted > stored ? 1 : 0;
    }
    if (value.typeId() != QMetaType::QString || text.isEmpty())
        return std::nullopt;
    const QByteArray wanted = value.toString().toUtf8();
    const QByteArray stored = platform::cp874::decode(text).toUtf8();
    const int order =
        std::memcmp(wanted.constData(), stored.constData(), size_t(qMin(wanted.size(), stored.size())));
    if (order != 0)
        return order < 0 ? -1 : 1;
    return wanted.size() < stored.size() ? -1 : wanted.size() > stored.size() ? 1 : 0;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Writes all of `bytes` at `offset`; the reason when that fails.
std::optional<QString> writeAllAt(int fd, const QByteArray& bytes, qint64 offset)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.constData() + written, size_t(bytes.size() - written), off_t(offset + written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? systemError() : QStringLiteral("ไม่ได้เขียนเลยแม้แต่ไบต์เดียว");
        written += n;
    }
    return std::nullopt;
}

uLong crcOf(const QByteArray& bytes)
{
    // zlib takes at most 4 GiB a call; an index file is far smaller.
    return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size()));
}

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

// The lines of an open file, read a few hundred bytes at a time where they
// are needed.
class FileLines {
public:
    FileLines(int fd, qint64 size) : m_fd(fd), m_size(size) {}

    struct Line {
        QByteArray text; // without its CR LF
        qint64 next = 0; // where the next line starts
    };

    std::optional<QByteArray> read(qint64 offset, qint64 length) const
    {
        QByteArray bytes(qsizetype(length), Qt::Uninitialized);
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(m_fd, bytes.data() + done, size_t(length - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return std::nullopt;
            done += n;
        }
        return bytes;
    }

    // The first place at or after `at` where a line starts (the file's size
    // when none does); nullopt when the file cannot be read.
    std::optional<qint64> startAtOrAfter(qint64 at) const
    {
        for (qint64 from = at - 1; from < m_size; from += chunk) {
            const std::optional<QByteArray> bytes = read(from, qMin<qint64>(chunk, m_size - from));
            if (!bytes)
                return std::nullopt;
            const qsizetype end = bytes->indexOf('\n');
            if (end >= 0)
                return from + end + 1;
        }
        return m_size;
    }

    // The line starting at `start`; nullopt when it does not end with CR LF.
    std::optional<Line> at(qint64 start) const
    {
        QByteArray text;
        for (qint64 from = start; from < m_size; from += chunk) {
            const std::optional<QByteArray> bytes = read(from, qMin<qint64>(chunk, m_size - from));
            if (!bytes)
                return std::nullopt;
            const qsizetype end = bytes->indexOf('\n');
            text += end >= 0 ? bytes->left(end) : *bytes;
            if (end >= 0) {
                if (!text.endsWith('\r'))
                    return std::nullopt;
                text.chop(1);
                return Line{text, from + end + 1};
            }
        }
        return std::nullopt;
    }

private:
    static constexpr qint64 chunk = 256;
    int m_fd;
    qint64 m_size;
};

} // namespace

QByteArray PrimaryIndexFile::contents(const QStringList& keyFields, const QList<QVector<QVariant>>& keyRows)
{
    QByteArray bytes = encoded(keyFields.join(QLatin1Char('\t'))) + "\r\n";
    bytes.reserve(bytes.size() + keyRows.size() * 16);
    for (const QVector<QVariant>& row : keyRows)
        bytes += keyLine(row);
    return bytes;
}

std::optional<PrimaryIndexFile::Insertion> PrimaryIndexFile::insertion(const QString& path, qint32 fingerprint,
                                                                      const QVector<QVariant>& key)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const FileCloser closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    FileLines lines(fd, status.st_size);
    // Every line before `low` holds a smaller key, every line from `high` on a
    // larger one; both are where lines start.
    std::optional<qint64> low = lines.startAtOrAfter(1);
    if (!low)
        return std::nullopt;
    qint64 high = status.st_size;
    while (*low < high) {
        const std::optional<qint64> middle = lines.startAtOrAfter(*low + (high - *low) / 2);
        if (!middle)
            return std::nullopt;
        qint64 start = *middle;
        if (start >= high)
            start = *low; // no line starts in the upper half: the lowest one decides
        const std::optional<FileLines::Line> line = lines.at(start);
        if (!line)
            return std::nullopt;
        const QList<QByteArray> fields = line->text.split('\t');
        if (fields.size() != key.size())
            return std::nullopt;
        int order = 0;
        for (int i = 0; i < key.size() && order == 0; ++i) {
            const std::optional<int> field = compareField(key[i], fields[i]);
            if (!field)
                return std::nullopt;
            order = *field;
        }
        if (order > 0)
            *low = line->next;
        else
            high = start;
    }
    const std::optional<QByteArray> moved = lines.read(*low, status.st_size - *low);
    if (!moved)
        return std::nullopt;
    const QByteArray line = keyLine(key);
    Insertion result;
    result.offset = *low;
    result.bytes = line + *moved;
    result.keysAfter = moved->count('\n');
    // The CRC of the file with the line put in, from the one it has and the
    // CRCs of the moved bytes and of the line: a CRC of two pieces is the
    // first one's shifted over the second's length, exclusive-or the second's.
    const uLong movedCrc = crcOf(*moved);
    // The CRC of the bytes before the place, shifted over the moved bytes.
    const uLong head = uLong(quint32(fingerprint)) ^ movedCrc;
    const uLong whole = crc32_combine(head, 0, z_off_t(line.size())) ^
                        crc32_combine(crcOf(line), 0, z_off_t(moved->size())) ^ movedCrc;
    result.fingerprint = qint32(quint32(whole));
    return result;
}

void PrimaryIndexFile::insert(const QString& path, const Insertion& insertion)
{
    const auto fail = [&](const QString& why) {
        return Error(QStringLiteral("เขียนแฟ้มดัชนีไม่ได้\n%1: %2").arg(path, why));
    };
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw fail(systemError());
    if (const auto why = writeAllAt(fd, insertion.bytes, insertion.offset)) {
        ::close(fd);
        throw fail(*why);
    }
    if (::close(fd) != 0)
        throw fail(systemError());
}

std::optional<PrimaryIndexFile::Stamp> PrimaryIndexFile::stamp(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return Stamp{quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
                 qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

qint32 PrimaryIndexFile::fingerprint(const QByteArray& contents)
{
    return qint32(quint32(crcOf(contents)));
}

std::optional<QByteArray> PrimaryIndexFile::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFile::NoError)
        return std::nullopt;
    return bytes;
}

void PrimaryIndexFile::write(const QString& path, const QByteArray& contents)
{
    const QFileInfo target(path);
    const QString temporary = target.dir().filePath(QStringLiteral(".%1.tevrak-new").arg(target.fileName()));
    const QByteArray temporaryName = QFile::encodeName(temporary);
    const auto fail = [&](const QString& why) {
        ::unlink(temporaryName.constData());
        return Error(QStringLiteral("เขียนแฟ้มดัชนีไม่ได้\n%1: %2").arg(path, why));
    };
    // A leftover of a killed writer is replaced.
    ::unlink(temporaryName.constData());
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw fail(systemError());
    if (const auto why = writeAllAt(fd, contents, 0)) {
        ::close(fd);
        throw fail(*why);
    }
    if (::close(fd) != 0)
        throw fail(systemError());
    if (::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0)
        throw fail(systemError());
}

} // namespace tevrak::records
