#include "records/tables/PrimaryIndexFile.h"

#include "platform/Cp874.h"
#include "platform/Error.h"

#include <QSaveFile>

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

} // namespace

QByteArray PrimaryIndexFile::contents(const QStringList& keyFields, const QList<QVector<QVariant>>& keyRows)
{
    QByteArray bytes = encoded(keyFields.join(QLatin1Char('\t'))) + "\r\n";
    for (const QVector<QVariant>& row : keyRows) {
        for (int i = 0; i < row.size(); ++i) {
            if (i > 0)
                bytes += '\t';
            bytes += keyText(row[i]);
        }
        bytes += "\r\n";
    }
    return bytes;
}

void PrimaryIndexFile::write(const QString& path, const QByteArray& contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
        throw Error(QStringLiteral("Cannot write the index file %1: %2").arg(path, file.errorString()));
}

} // namespace tevrak::records
