#include "store/TSchemaBuild.h"

#include "store/Schema.h"
#include "store/TConnection.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <sqlite3.h>

TSchemaBuild::TSchemaBuild(const QString& path, QObject* parent) : QThread(parent), m_path(path) {}

TSchemaBuild::~TSchemaBuild()
{
    cancel();
    wait();
}

QStringList TSchemaBuild::slowPieces(const QString& path)
{
    const QFileInfo info(path);
    if (TConnection::isServerAddress(path) || !info.isFile() || !info.isWritable())
        return {};
    sqlite3* db = nullptr;
    QStringList slow;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        QSet<QString> present;
        bool ratings = false;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT type, name FROM sqlite_master", -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW)
                present.insert(
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + u' ' +
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))).toLower());
        sqlite3_finalize(st);
        st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT EXISTS (SELECT 1 FROM pjInfo)", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            ratings = sqlite3_column_int(st, 0) != 0;
        sqlite3_finalize(st);
        for (const schema::SchemaObject& o : schema::objects()) {
            const QString piece = o.type + u' ' + o.name;
            if (ratings && !present.contains(o.type + u' ' + o.name.toLower()) &&
                TConnection::buildReadsRatings(piece))
                slow << piece;
        }
    }
    sqlite3_close(db);
    return slow;
}

void TSchemaBuild::run()
{
    TConnection connection;
    connection.setOwnBuildNotice([this](const QString& text) { emit notice(text); });
    connection.setBuildCancel([this] { return m_cancelled.load(); });
    const bool ok = connection.open(m_path);
    m_mended = connection.mended();
    m_error = ok ? QString() : connection.error();
    connection.close();
    emit done(ok && !m_cancelled);
}
