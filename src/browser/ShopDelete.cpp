#include "browser/ShopDelete.h"

#include "store/Schema.h"
#include "store/TConnection.h"
#include "store/TQuery.h"
#include "store/TTable.h"

namespace shopdelete {

bool deleteCurrent(TConnection& connection, TTable& shops, QString* error)
{
    const qlonglong id = shops.FieldByName(QStringLiteral("id")).asInteger();
    if (!connection.beginTransaction()) {
        *error = connection.error();
        return false;
    }
    // On the file the analyses' counts of the shop go at once, not a rating at a time.
    const bool bulk = connection.engine() == TConnection::Engine::Sqlite;
    QString failure;
    TQuery ratings(&connection, QStringLiteral("ADOQuery1"));
    auto run = [&](const QString& sql) {
        ratings.SetSQL(sql);
        if (sql.contains(QLatin1String(":dian_id")))
            ratings.SetParam(QStringLiteral("dian_id"), id);
        if (ratings.ExecSQL() < 0)
            failure = ratings.lastError();
        return failure.isEmpty();
    };
    bool ok = true;
    for (const QString& sql : bulk ? schema::bulkStartStatements() : QStringList())
        ok = ok && run(sql);
    if (ok && !shops.Delete()) {
        failure = shops.lastError();
        ok = false;
    }
    ok = ok && run(QStringLiteral("delete from pjInfo where dian_id=:dian_id"));
    for (const QString& sql : bulk ? schema::bulkShopGoneStatements() : QStringList())
        ok = ok && run(sql);
    if (ok && !connection.commit())
        failure = connection.error();
    if (failure.isEmpty())
        return true;
    connection.rollback();
    *error = failure;
    return false;
}

} // namespace shopdelete
