#pragma once

#include "store/TStatement.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <vector>

class TConnection;

// Rows for one table sent many to a statement: on a server one round trip a row would cost
// more than the writing itself. Values are converted by their columns' types as a bound
// parameter would be; a row that does not convert is refused by add() and never sent. A batch
// the server refuses is written again row by row, each behind a savepoint, so one bad row
// neither aborts the transaction nor costs the others. Used inside the caller's transaction.
class TBatchInsert
{
public:
    static constexpr int kRowsPerStatement = 200;

    TBatchInsert(TConnection& connection, const QString& table, const QStringList& columns);

    // False (with error) when the row's values do not convert; it is then not stored.
    bool add(const QVariantList& values, QString* error);
    // Sends what is gathered. False only for a fault that fails every later row too
    // (storageFault()); rows the server refused one by one count as failed().
    bool flush();

    int stored() const { return m_stored; }
    int failed() const { return m_failed; }
    const QString& error() const { return m_error; }
    int errorCode() const { return m_code; }
    // True once a flush failed: the transaction is of no more use.
    bool broken() const { return m_broken; }

private:
    bool sendPending();
    bool send(int rows, const std::vector<QVariant>& values, int* changed);
    QString statementFor(int rows) const;

    TConnection& m_connection;
    QString m_table;
    QStringList m_columns;
    std::vector<schema::ColumnType> m_types;
    std::vector<QVariant> m_pending; // row after row
    TStatement m_full;               // for a whole batch, prepared once
    int m_stored = 0;
    int m_failed = 0;
    QString m_error;
    int m_code = 0;
    bool m_broken = false;
};
