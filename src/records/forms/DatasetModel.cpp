#include "records/forms/DatasetModel.h"

#include "records/tables/DataSource.h"
#include "records/tables/Dataset.h"

namespace tevrak::records {

DatasetModel::DatasetModel(Dataset& dataset, const QList<Column>& columns, QObject* parent)
    : QAbstractTableModel(parent), m_dataset(dataset), m_columns(columns)
{
    follow();
}

DatasetModel::DatasetModel(DataSource& source, const QList<Column>& columns, QObject* parent)
    : QAbstractTableModel(parent), m_dataset(source.dataset()), m_source(&source), m_columns(columns)
{
    follow();
    connect(&source, &DataSource::enabledChanged, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

void DatasetModel::follow()
{
    connect(&m_dataset, &Dataset::reset, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

bool DatasetModel::shown() const
{
    return m_dataset.isOpen() && (!m_source || m_source->isEnabled());
}

int DatasetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !shown() ? 0 : m_dataset.recordCount();
}

int DatasetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !shown() || index.column() >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_dataset.displayText(index.row(), m_columns[index.column()].field);
    return {};
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return m_columns[section].title;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

} // namespace tevrak::records
