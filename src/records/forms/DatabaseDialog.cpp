#include "records/forms/DatabaseDialog.h"

#include "records/tables/ClaimDatabase.h"

#include <QScreen>

namespace tevrak::records {

DatabaseDialog::DatabaseDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setModal(true);
}

void DatabaseDialog::useDatabase(ClaimDatabase& database)
{
    if (m_db == &database)
        return;
    dropDatabase();
    m_db = &database;
    attachDatabase(database);
    connect(&database, &QObject::destroyed, this, [this] { dropDatabase(); });
}

void DatabaseDialog::dropDatabase()
{
    if (m_db)
        disconnect(m_db, nullptr, this, nullptr);
    detachDatabase();
    m_db = nullptr;
}

void DatabaseDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    firstBox()->setFocus();
}

} // namespace tevrak::records
