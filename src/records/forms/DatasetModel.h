#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace tevrak::records {

class Dataset;
class DataSource;

// Shows a dataset's open result in a grid: chosen fields as columns, with
// their titles (centred). It follows the dataset: reopened, closed or
// reloaded, the grid shows the new rows. Built on a data source, it shows
// nothing while the source is disabled; it must not outlive the dataset.
// Selecting a grid row is up to the form: call dataset().moveTo(row) to make
// it the current row.
class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;
        QString title;
    };

    DatasetModel(Dataset& dataset, const QList<Column>& columns, QObject* parent = nullptr);
    DatasetModel(DataSource& source, const QList<Column>& columns, QObject* parent = nullptr);

    Dataset& dataset() const { return m_dataset; }
    const QList<Column>& columns() const { return m_columns; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void follow();
    bool shown() const;

    Dataset& m_dataset;
    DataSource* m_source = nullptr;
    QList<Column> m_columns;
};

} // namespace tevrak::records
