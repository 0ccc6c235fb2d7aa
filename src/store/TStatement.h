#pragma once

#include "store/Schema.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement in the program's dialect: rewritten for SQLite once, parameters
// bound by name without regard to letter case and converted by the type of the column
// they meet. Owned and used by one thread.
class TStatement
{
public:
    TStatement() = default;
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    bool prepare(sqlite3* db, const QString& sql);
    void finalize();
    bool isPrepared() const { return m_stmt != nullptr; }

    // Binds every parameter of the statement from params (keys lower-cased). A parameter
    // without a value, or a text that does not convert, is an error.
    bool bind(const QHash<QString, QVariant>& params);
    // Binds values to the parameters in order ("?" placeholders), as given.
    bool bindList(const QVariantList& values);

    // Runs to the end; returns the rows changed, or -1 on error.
    int execute();

    // Row stepping for queries: true while a row is there; false at the end or on an
    // error (error() tells which).
    bool step();
    bool reset();
    QStringList columnNames() const;
    QVariant column(int index) const;
    int columnCount() const;

    const QString& error() const { return m_error; }
    // The engine's primary result code of the last failed prepare or run; 0 when the last
    // error was our own (a missing parameter, a text that does not convert).
    int errorCode() const { return m_code; }

private:
    bool bindValue(int index, const QVariant& value);

    struct Slot
    {
        QString name; // lower-cased, without the colon
        schema::ColumnType type = schema::ColumnType::Unknown;
    };

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    std::vector<Slot> m_slots; // index i is SQLite parameter i + 1
    QString m_error;
    int m_code = 0;
};
