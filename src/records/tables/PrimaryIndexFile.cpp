#include "records/tables/PrimaryIndexFile.h"

#include "platform/Cp874.h"
#include "platform/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

} // namespace

QByteArray PrimaryIndexFile::contents(const QStringList& keyFields, const QList<QVector<QVariant>>& keyRows)
{
    QByteArray bytes = encoded(keyFields.join(QLatin1Char('\t'))) + "\r\n";
    bytes.reserve(bytes.size() + keyRows.size() * 16);
    for (const QVector<QVariant>& row : keyRows)
        bytes += keyLine(row);
    return bytes;
}

std::optional<QByteArray> PrimaryIndexFile::withKeyAt(const QByteArray& contents, qint64 position,
                                                      const QVector<QVariant>& key)
{
    // Line `position + 1` starts after position + 1 line ends.
    qsizetype at = 0;
    for (qint64 ends = 0; ends <= position; ++ends) {
        const qsizetype end = contents.indexOf('\n', at);
        if (end < 0)
            return std::nullopt;
        at = end + 1;
    }
    QByteArray result;
    const QByteArray line = keyLine(key);
    result.reserve(contents.size() + line.size());
    result.append(contents.constData(), at);
    result.append(line);
    result.append(contents.constData() + at, contents.size() - at);
    return result;
}

std::optional<qint64> PrimaryIndexFile::keysBefore(const QByteArray& contents, const QVector<QVariant>& key)
{
    // Where each key line starts (the field names' line left out).
    QList<qsizetype> starts;
    starts.reserve(contents.size() / 12);
    for (qsizetype at = contents.indexOf('\n'); at >= 0 && at + 1 < contents.size();
         at = contents.indexOf('\n', at + 1))
        starts.append(at + 1);
    qint64 low = 0;
    qint64 high = starts.size();
    while (low < high) {
        const qint64 middle = (low + high) / 2;
        const qsizetype start = starts[middle];
        const qsizetype end = contents.indexOf('\r', start);
        if (end < 0)
            return std::nullopt;
        const QList<QByteArray> fields = contents.mid(start, end - start).split('\t');
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
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

qint32 PrimaryIndexFile::fingerprint(const QByteArray& contents)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB a call; an index file is far smaller.
    crc = crc32(crc, reinterpret_cast<const Bytef*>(contents.constData()), uInt(contents.size()));
    return qint32(quint32(crc));
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
        return Error(QStringLiteral("Cannot write the index file %1: %2").arg(path, why));
    };
    // A leftover of a killed writer is replaced.
    ::unlink(temporaryName.constData());
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw fail(systemError());
    qsizetype written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(fd, contents.constData() + written, size_t(contents.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString why = n < 0 ? systemError() : QStringLiteral("nothing written");
            ::close(fd);
            throw fail(why);
        }
        written += n;
    }
    if (::close(fd) != 0)
        throw fail(systemError());
    if (::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0)
        throw fail(systemError());
}

} // namespace tevrak::records
