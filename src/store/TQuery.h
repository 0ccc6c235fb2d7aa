#pragma once

#include "store/TCursor.h"
#include "store/TStatement.h"

#include <QHash>
#include <vector>

class TConnection;

// A command or query object: a statement with named parameters. Open runs a query and
// keeps its rows as a static snapshot; ExecSQL runs any other statement. The prepared
// statement is kept while the text stays the same, so a loop of inserts binds and runs
// only. Used by the thread that owns its connection.
class TQuery : public TCursor
{
    Q_OBJECT

public:
    TQuery(TConnection* connection, const QString& name, QObject* parent = nullptr);

    void SetSQL(const QString& sql);
    const QString& SQL() const { return m_sql; }

    // Parameter names are matched without regard to letter case.
    void SetParam(const QString& name, const QVariant& value);
    QVariant Param(const QString& name) const { return m_params.value(name.toLower()); }
    void ClearParams() { m_params.clear(); }

    // Runs the query and keeps its rows; false with lastError() on any engine error.
    bool Open();
    void Close() override;
    // Shows rows another connection has read (a query run on a worker thread), as if Open had
    // read them: active, standing on row recNo (1-based; clamped), views reset.
    void SetSnapshot(const QStringList& columns, std::vector<QVariantList> rows, int recNo = 1);
    // Runs a statement that returns no rows; the number of rows changed, or -1 on error.
    int ExecSQL();
    // The engine's result code of the last failed statement (TStatement::errorCode()).
    int lastEngineCode() const { return m_statement.errorCode(); }
    // True when the statement returns rows (a query); false for other statements or errors.
    bool ReturnsRows();

    QVariant value(int row, int column) const override;

protected:
    int rowCount() const override { return static_cast<int>(m_rows.size()); }

private:
    bool prepare();

    TConnection* m_connection;
    QString m_sql;
    QString m_preparedSql;
    int m_preparedGeneration = -1;
    QHash<QString, QVariant> m_params;
    TStatement m_statement;
    std::vector<QVariantList> m_rows;
};
