#pragma once

#include "store/TConnection.h"
#include "store/TQuery.h"
#include "store/TTable.h"

#include <QObject>
#include <memory>

// The data module: the connection to the database file and the shared cursors and command
// objects every view uses, under the names the views know them by. One instance lives from
// start-up to exit; UI thread only (the rating saver opens a connection of its own).
class TDM : public QObject
{
    Q_OBJECT

public:
    explicit TDM(QObject* parent = nullptr);
    ~TDM() override;

    // Opens the database file, creating it when missing. On failure the error text is kept
    // in OpenError() and every later action reports the engine's error.
    bool DataModuleCreate(const QString& databasePath);
    const QString& OpenError() const { return m_openError; }
    // What the open has to tell the user once: the pieces of the schema it added to the file,
    // or that the file is read-only (and what it lacks). Empty when all is well.
    QString OpenNotice(const QStringList& builtBefore = {}) const;

    // A cursor like pj_fx1_detail, for a view that gives it rows of its own (TTable::SetKeySource);
    // parent deletes it, before this data module.
    TTable* newRankDetail(QObject* parent);

    // A second connection to the same file, for a thread of its own.
    std::unique_ptr<TConnection> OpenSecondConnection(QString* error = nullptr) const;

    TConnection adoCn;

    TTable* tb_dianbase;   // shops, through the deletable view dianBaseSort
    TTable* tb_pjinfo;     // ratings; the trade view filters it to one shop
    TQuery* pj_fx1;        // product ranking
    TTable* pj_fx1_detail; // ratings of the ranked item under pj_fx1's current row
    TQuery* pj_fx2;        // time distribution
    TQuery* pj_fx3;        // sales trend
    TQuery* ADOQuery1;     // any statement: deletes, counts, profile update
    TQuery* ADOQuery2;     // rating insert
    TQuery* adoq1;         // shop lookup, insert and update

private:
    QString m_openError;
};
