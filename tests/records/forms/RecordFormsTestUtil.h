#pragma once

// Shared by the claim-record form tests: a fresh database open as the main
// window opens it, typing into boxes, and reading a table file straight from
// disk with SQLite.

#include "records/tables/ClaimDatabase.h"
#include "support/RecordingDialogs.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>

namespace tevrak::test {

// The rows of `sql` run on the table file `fileName` of the database folder,
// opened read-only by its own connection; every value as text ("" for NULL).
inline QList<QStringList> rowsInFile(const QString& fileName, const QString& sql)
{
    QList<QStringList> rows;
    const QByteArray path = QDir(databaseFolder()).filePath(fileName).toUtf8();
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path.constData();
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
        sqlite3_close(db);
        return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
            row << (text ? QString::fromUtf8(text) : QString());
        }
        rows << row;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// A tab-sized window over a fresh claim database opened for start-up.
struct FormsWorld {
    FormsWorld()
    {
        freshTestDatabase();
        database = std::make_unique<records::ClaimDatabase>();
        database->openForStartUp();
        database->UserT.open();
        tab = std::make_unique<QWidget>();
        tab->resize(800, 540);
    }

    void show()
    {
        tab->show();
        tab->activateWindow();
        QApplication::setActiveWindow(tab.get());
        (void)QTest::qWaitForWindowActive(tab.get());
    }

    // The tab's control of that objectName (a failure when there is none).
    template <typename T> T* control(const char* name)
    {
        auto* found = tab->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    RecordingDialogs dialogs;
    std::unique_ptr<records::ClaimDatabase> database;
    std::unique_ptr<QWidget> tab;
};

// Types `text` into a box that has the focus, as the user does.
inline void typeInto(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->end(false);
    // QTest::keyClicks knows ASCII only; Thai characters come as key events
    // carrying their text, as an input method delivers them.
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &release);
    }
}

// Replaces the whole text of a box as the user does: select all, delete, type.
inline void retype(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    typeInto(box, text);
}

// A double-click of the left button at `pos`, delivered to the widget as the
// window system delivers it: press, release, double-click, release.
inline void doubleClick(QWidget* widget, QPoint pos)
{
    const QPointF local(pos);
    const QPointF global(widget->mapToGlobal(pos));
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, local, global, Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

// Moves the focus away from whatever holds it (the user leaving a box), then
// lets deferred work run.
inline void leaveTo(QWidget* next)
{
    next->setFocus();
    QApplication::processEvents();
}

} // namespace tevrak::test
