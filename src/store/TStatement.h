#pragma once

#include "store/Schema.h"
#include "store/TRawValue.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

class TConnection;
struct sqlite3;
struct sqlite3_stmt;
typedef struct pg_result PGresult;

// One prepared statement in the program's dialect: rewritten for the connection's engine
// once, parameters bound by name without regard to letter case and converted by the type of
// the column they meet. On a server it is a named prepared statement there, prepared again by
// itself after the connection was made anew. Owned and used by one thread, and by one
// statement of its connection at a time while rows are streamed.
class TStatement
{
public:
    TStatement() = default;
    ~TStatement();
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    bool prepare(TConnection& connection, const QString& sql);
    void finalize();
    bool isPrepared() const { return m_stmt != nullptr || !m_serverName.isEmpty(); }
    // On a server, rows of a query come one at a time as the server sends them instead of
    // all at once when the query ends: for results too large to hold, or endless ones. The
    // connection serves no other statement until the rows are read or reset() is called.
    // Set before the first step(); the file engine always works this way.
    void setStreaming(bool on) { m_streaming = on; }

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
    // The same without a QVariant. On a server every value but NULL is Other: it comes as
    // the server's text of its own type, which column() reads.
    TRawValue raw(int index) const;
    int columnCount() const;

    const QString& error() const { return m_error; }
    // The engine's primary result code of the last failed prepare or run; 0 when the last
    // error was our own (a missing parameter, a text that does not convert).
    int errorCode() const { return m_code; }

private:
    bool bindValue(int index, const QVariant& value);
    bool prepareServer();
    bool runServer(bool query);
    bool stepServer();
    void dropServerResult();
    void failServer(PGresult* result);

    struct Slot
    {
        QString name; // lower-cased, without the colon
        schema::ColumnType type = schema::ColumnType::Unknown;
    };

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    std::vector<Slot> m_slots; // index i is parameter i + 1

    // The server side: the statement's name there, the text it was prepared from, the
    // parameters' types and values as text, and the rows of the last run.
    TConnection* m_connection = nullptr;
    std::weak_ptr<int> m_token;
    QString m_sql;
    QString m_serverName;
    int m_preparedGeneration = -1;
    std::vector<unsigned int> m_types;
    std::vector<QByteArray> m_values;
    std::vector<bool> m_nulls;
    QStringList m_names;
    PGresult* m_result = nullptr;
    int m_row = -1;
    bool m_running = false; // a query sent whose rows are still coming
    bool m_streaming = false;
    QString m_error;
    int m_code = 0;
};
