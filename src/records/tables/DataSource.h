#pragma once

#include <QObject>

namespace tevrak::records {

class Dataset;

// Connects a dataset to the controls bound to it. While it is disabled its
// controls show nothing and nothing typed into them reaches a record.
class DataSource : public QObject {
    Q_OBJECT
public:
    DataSource(Dataset& dataset, bool enabled) : m_dataset(dataset), m_enabled(enabled) {}

    Dataset& dataset() const { return m_dataset; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled)
    {
        if (enabled == m_enabled)
            return;
        m_enabled = enabled;
        emit enabledChanged(enabled);
    }

signals:
    void enabledChanged(bool enabled);

private:
    Dataset& m_dataset;
    bool m_enabled;
};

} // namespace tevrak::records
