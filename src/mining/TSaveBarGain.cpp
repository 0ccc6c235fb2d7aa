#include "mining/TSaveBarGain.h"

#include "store/History.h"
#include "store/RunRecords.h"
#include "store/Schema.h"
#include "store/TBatchInsert.h"
#include "store/TConnection.h"
#include "store/TQuery.h"
#include "text/GbkCodec.h"

const char TSaveBarGain::kProfileSql[] =
    "update dianBase set buyLevel=:buyLevel,buyerCredit=:buyerCredit,saleLevel=:saleLevel,"
    "salerCredit=:salerCredit,createDate=:createDate, buyerGood=:buyerGood,buyerNotBad=:buyerNotBad,"
    "buyerBad=:buyerBad,salerGood=:salerGood,salerNotBad=:salerNotBad,salerBad=:salerBad,"
    "salerGoodRate=:salerGoodRate,buyerGoodRate=:buyerGoodRate where id=:Id";

const char TSaveBarGain::kInsertSql[] =
    "insert into "
    "pjinfo(dian_id,pj,buyerorSaler,pjsj,trade_id,itemid,itemtitle,pjName,jg,pjinfo,pjjs,itemId_pjsj)  "
    "values(:dianId,:pj,:buyerorSaler,:pjsj,:trade_id,:itemid,:itemtitle,:pjName,:jg,:pjinfo,:pjjs,:itemId_"
    "pjsj)";

// Of every group of the shop's ratings with the same item and time, the copy stored first
// stays.
const char TSaveBarGain::kRemoveDuplicatesSql[] =
    "delete from pjinfo where itemId_pjsj  in \n"
    " (select itemId_pjsj from pjinfo where dian_id=:dian_id1 group by \n"
    " itemId_pjsj having count(*)>1)  and id \n"
    " not in (select min(id) from pjinfo where  dian_id=:dian_id2 group by itemId_pjsj\n"
    "  having count(*)>1) and dian_id=:dian_id3 ";

namespace {

QString field(const RatingRecord& record, size_t index)
{
    return index < record.size() ? gbk::toQString(record[index]) : QString();
}

} // namespace

TSaveBarGain* TSaveBarGain::Create(const QString& databasePath, std::shared_ptr<const RatingList> ratings,
                                   const QString& shopId)
{
    auto* saver = new TSaveBarGain(databasePath, std::move(ratings), shopId);
    connect(saver, &QThread::finished, saver, &QObject::deleteLater);
    return saver;
}

TSaveBarGain::TSaveBarGain(const QString& databasePath, std::shared_ptr<const RatingList> ratings,
                           const QString& shopId)
    : m_databasePath(databasePath), m_ratings(std::move(ratings)), m_shopId(shopId)
{
}

void TSaveBarGain::run()
{
    const int n = m_ratings ? static_cast<int>(m_ratings->size()) : 0;
    int stored = 0;
    int failed = 0;
    QString error;
    if (!store(stored, failed, error)) {
        emit faulted(QStringLiteral("shop %1: %2").arg(m_shopId, error));
        stored = 0;
        failed = n;
        m_fresh = 0;
    }
    if (m_shopDeleted)
        emit shopGone();
    emit statusText(m_shopDeleted ? QStringLiteral("shop %1: %2").arg(m_shopId, shopDeletedReason())
                                  : doneText());
    m_writing = false;
    emit completed(stored, failed, m_fresh);
}

void TSaveBarGain::showPercent(int i, int n, int& shownPercent)
{
    // One status text per visible change, not one per record.
    const int percent = static_cast<int>((static_cast<qint64>(i) + 1) * 100 / n);
    if (percent != shownPercent) {
        shownPercent = percent;
        emit statusText(QStringLiteral("正在保存数据...%1%").arg(percent));
    }
}

bool TSaveBarGain::markDeleted(TConnection& connection, QString& error)
{
    QString markError;
    // Not left for a resume or another worker: mining it again would bring the shop back.
    if (m_runId > 0 && !runrecords::markShop(connection, m_runId, m_position, runrecords::ShopState::Skipped,
                                             0, &markError)) {
        error = QStringLiteral("marking the shop in the run record: ") + markError;
        return false;
    }
    if (m_claim.id > 0 && shopqueue::markFailed(connection, m_claim, shopDeletedReason(), &markError) ==
                              shopqueue::Outcome::Error) {
        error = QStringLiteral("marking the shop on the queue: ") + markError;
        return false;
    }
    return true;
}

bool TSaveBarGain::store(int& stored, int& failed, QString& error)
{
    const int n = m_ratings ? static_cast<int>(m_ratings->size()) : 0;
    // A shop without ratings has nothing to write but its mark in the run record.
    if (n == 0 && m_runId <= 0 && m_claim.id <= 0)
        return true;
    TConnection connection;
    if (!connection.open(m_databasePath)) {
        error = QStringLiteral("opening the database: ") + connection.error();
        return false;
    }
    if (!connection.beginTransaction()) {
        error = QStringLiteral("beginning the transaction: ") + connection.error();
        return false;
    }
    auto fail = [&](const QString& step, const QString& message) {
        error = step + QStringLiteral(": ") + message;
        connection.rollback();
        return false;
    };
    // The file's analysis counts take the shop's ratings at once, not a rating at a time.
    const bool bulk = connection.engine() == TConnection::Engine::Sqlite && n > 0;
    if (bulk)
        for (const QString& sql : schema::bulkStartStatements())
            if (!connection.exec(sql))
                return fail(QStringLiteral("beginning the transaction"), connection.error());
    // The shop's row is held to the commit: a delete of the shop at the same time waits for
    // these ratings and takes them along, and one that went first leaves no shop to store them
    // for (they would be ratings of no shop).
    if (n > 0) {
        TQuery hold(&connection, QStringLiteral("ADOQuery1"));
        hold.SetSQL(QStringLiteral("update dianBase set id=id where id=:id"));
        hold.SetParam(QStringLiteral("id"), m_shopId);
        const int held = hold.ExecSQL();
        if (held < 0)
            return fail(QStringLiteral("holding the shop"), hold.lastError());
        if (held == 0) {
            connection.rollback();
            m_shopDeleted = true;
            failed = n;
            return markDeleted(connection, error);
        }
    }
    if (n > 0 && !m_profile.isEmpty()) {
        TQuery profile(&connection, QStringLiteral("ADOQuery1"));
        profile.SetSQL(QString::fromLatin1(kProfileSql));
        for (auto it = m_profile.cbegin(); it != m_profile.cend(); ++it)
            profile.SetParam(it.key(), it.value());
        profile.SetParam(QStringLiteral("id"), m_shopId);
        if (profile.ExecSQL() < 0)
            return fail(QStringLiteral("storing the profile figures"), profile.lastError());
    }
    TQuery insert(&connection, QStringLiteral("ADOQuery2"));
    insert.SetSQL(QString::fromLatin1(kInsertSql));
    // On a server the rows go many to a statement: the insert's own columns, in its order,
    // with the same conversions.
    std::unique_ptr<TBatchInsert> batch;
    if (connection.engine() == TConnection::Engine::Postgres) {
        const QString sql = QString::fromLatin1(kInsertSql);
        const qsizetype open = sql.indexOf(u'(');
        QStringList columns = sql.mid(open + 1, sql.indexOf(u')') - open - 1).split(u',');
        for (QString& c : columns)
            c = c.trimmed();
        batch = std::make_unique<TBatchInsert>(connection, QStringLiteral("pjinfo"), columns);
    }
    int shownPercent = -1;
    for (int i = 0; i < n; ++i) {
        const RatingRecord& r = (*m_ratings)[i].second;
        const QString itemId = field(r, 3);
        const QString time = field(r, 1);
        if (batch) {
            QString rowError;
            const bool added =
                batch->add({m_shopId, field(r, 0), field(r, 6), time, field(r, 2), itemId, field(r, 4),
                            field(r, 5), field(r, 7), field(r, 8), field(r, 9), itemId + time},
                           &rowError);
            if (!added && batch->broken())
                return fail(QStringLiteral("storing the ratings"), batch->error());
            showPercent(i, n, shownPercent);
            continue;
        }
        insert.SetParam(QStringLiteral("dianId"), m_shopId);
        insert.SetParam(QStringLiteral("pj"), field(r, 0));
        insert.SetParam(QStringLiteral("buyerorSaler"), field(r, 6));
        insert.SetParam(QStringLiteral("pjsj"), time);
        insert.SetParam(QStringLiteral("trade_id"), field(r, 2));
        insert.SetParam(QStringLiteral("itemid"), itemId);
        insert.SetParam(QStringLiteral("itemtitle"), field(r, 4));
        insert.SetParam(QStringLiteral("pjName"), field(r, 5));
        insert.SetParam(QStringLiteral("jg"), field(r, 7));
        insert.SetParam(QStringLiteral("pjinfo"), field(r, 8));
        insert.SetParam(QStringLiteral("pjjs"), field(r, 9));
        insert.SetParam(QStringLiteral("itemId_pjsj"), itemId + time);
        // A record that cannot be stored is skipped; the others still are. A fault of the
        // file or the machine would fail every later record too: nothing of the shop is kept.
        if (insert.ExecSQL() == 1)
            ++stored;
        else if (TConnection::isStorageFault(insert.lastEngineCode()))
            return fail(QStringLiteral("storing the ratings"), insert.lastError());
        else
            ++failed;
        showPercent(i, n, shownPercent);
    }
    if (batch) {
        if (!batch->flush())
            return fail(QStringLiteral("storing the ratings"), batch->error());
        stored = batch->stored();
        failed = batch->failed();
    }
    int removed = 0;
    if (bulk) {
        TQuery newDuplicates(&connection, QStringLiteral("ADOQuery1"));
        newDuplicates.SetSQL(QString::fromLatin1(schema::bulkNewDuplicatesSql()));
        removed = newDuplicates.ExecSQL();
        if (removed < 0)
            return fail(QStringLiteral("removing duplicate ratings"), newDuplicates.lastError());
    }
    if (bulk)
        for (const QString& sql : schema::bulkFoldStatements())
            if (!connection.exec(sql))
                return fail(QStringLiteral("counting the ratings"), connection.error());
    // Inside the transaction, so that no reader ever sees a rating twice.
    if (n > 0) {
        TQuery removeDuplicates(&connection, QStringLiteral("ADOQuery1"));
        removeDuplicates.SetSQL(QString::fromLatin1(kRemoveDuplicatesSql));
        for (const char* name : {"dian_id1", "dian_id2", "dian_id3"})
            removeDuplicates.SetParam(QString::fromLatin1(name), m_shopId);
        const int older = removeDuplicates.ExecSQL();
        if (older < 0)
            return fail(QStringLiteral("removing duplicate ratings"), removeDuplicates.lastError());
        removed += older;
        m_fresh = std::max(0, stored - removed);
        // Counted after the duplicates went: the ratings the shop has from now on.
        if (!m_profile.isEmpty()) {
            QString historyError;
            if (!history::record(connection, m_shopId, m_profile, m_totalRatings, &historyError))
                return fail(QStringLiteral("recording the shop's history"), historyError);
        }
    }
    if (m_runId > 0) {
        QString markError;
        if (!runrecords::markShop(connection, m_runId, m_position,
                                  m_complete ? runrecords::ShopState::Done
                                             : runrecords::ShopState::Incomplete,
                                  stored, &markError, m_fresh))
            return fail(QStringLiteral("marking the shop in the run record"), markError);
    }
    if (m_claim.id > 0) {
        QString markError;
        const shopqueue::Outcome marked =
            m_complete ? shopqueue::markDone(connection, m_claim, stored, &markError)
                       : shopqueue::markFailed(connection, m_claim, m_cutShortReason, &markError);
        // Another worker holds the shop now and stores it itself: this walk's ratings go.
        if (marked != shopqueue::Outcome::Done)
            return fail(QStringLiteral("marking the shop on the queue"), markError);
    }
    if (!connection.commit())
        return fail(QStringLiteral("committing"), connection.error());
    return true;
}
