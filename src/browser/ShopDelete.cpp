#include "browser/ShopDelete.h"

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
    QString failure;
    TQuery ratings(&connection, QStringLiteral("ADOQuery1"));
    ratings.SetSQL(QStringLiteral("delete from pjInfo where dian_id=:dian_id"));
    ratings.SetParam(QStringLiteral("dian_id"), id);
    if (!shops.Delete())
        failure = shops.lastError();
    else if (ratings.ExecSQL() < 0)
        failure = ratings.lastError();
    else if (!connection.commit())
        failure = connection.error();
    if (failure.isEmpty())
        return true;
    connection.rollback();
    *error = failure;
    return false;
}

} // namespace shopdelete
