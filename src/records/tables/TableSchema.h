#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tevrak::records {

// The field types of the claim tables. Unknown is a computed query column
// (such as max(Seq)) whose values are read as they come.
enum class FieldType { String, SmallInt, Date, Boolean, Float, Unknown };

struct FieldDef {
    QString name;
    FieldType type = FieldType::Unknown;
    int size = 0; // string(n): at most n characters of the Thai code page
};

// One local table: its name, the file that holds it in the database folder,
// its fields in their order and its primary index.
struct TableSchema {
    QString name;     // "Tevrak": the name the query texts use
    QString fileName; // "Tevrak.DB"
    QList<FieldDef> fields;
    QStringList primaryKey;  // empty when the table has no primary index
    QStringList orderFields; // the order rows are listed in (empty: insertion order)
    // An index that serves a search over a large table ("Tevrak_Status" on
    // Status, Claimno); empty when there is none.
    QStringList searchFields;

    bool hasPrimaryIndex() const { return !primaryKey.isEmpty(); }
    // "Tevrak2.PX" beside "Tevrak2.DB"; empty when the table has no primary index.
    QString indexFileName() const;
    // The field of that name (without regard to case), or nullptr.
    const FieldDef* field(const QString& fieldName) const;
    // The SQL that creates the table (and its ordering and search indexes) in a new file.
    QStringList createStatements() const;
    // The search index's name ("Tevrak_Status"); empty when there is none.
    QString searchIndexName() const;
    // The SQL that creates the search index in the attached file `schema`.
    QString searchIndexStatement(const QString& schema) const;
};

// A row identified by claim number and sequence, the key of the claim tables.
struct RowKey {
    QString claimno;
    int seq = 0;
    bool operator==(const RowKey&) const = default;
};

namespace tables {
const TableSchema& tevrak();
const TableSchema& tevrak2();
const TableSchema& expense();
const TableSchema& expense2();
const TableSchema& status();
const TableSchema& user();
// All six, in the order above.
const QList<const TableSchema*>& all();
// The table of that name (without regard to case), or nullptr.
const TableSchema* find(const QString& tableName);
} // namespace tables

// A table or field name as SQL writes it: in double quotes.
QString quotedName(const QString& identifier);

// The SQL name of a field type, as declared in the table files.
QString declaredType(const FieldDef& field);
// The field type a declared column type stands for ("VARCHAR(8)" is a string of 8).
FieldDef fieldFromDeclaredType(const QString& name, const char* declaredType);

} // namespace tevrak::records
