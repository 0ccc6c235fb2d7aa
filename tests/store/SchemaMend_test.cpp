// Opening a database that lacks pieces of the schema, is damaged, or cannot be written.
#include "FileBytes.h"
#include "ReadOnlyPath.h"

#include "store/Schema.h"
#include "store/TDM.h"
#include "store/TSchemaBuild.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

// Runs one statement and gives its rows as "a|b" texts, or the engine's message.
QStringList query(TDM& dm, const QString& sql)
{
    dm.ADOQuery1->SetSQL(sql);
    if (!dm.ADOQuery1->Open())
        return {QStringLiteral("error: ") + dm.ADOQuery1->lastError()};
    QStringList out;
    for (dm.ADOQuery1->First(); !dm.ADOQuery1->Eof(); dm.ADOQuery1->Next()) {
        QStringList cells;
        for (const QString& name : dm.ADOQuery1->FieldNames())
            cells << dm.ADOQuery1->FieldByName(name).asString();
        out << cells.join(u'|');
    }
    return out;
}

int exec(TDM& dm, const QString& sql)
{
    dm.ADOQuery1->SetSQL(sql);
    return dm.ADOQuery1->ExecSQL();
}

QStringList schemaOf(TDM& dm)
{
    return query(dm, QStringLiteral("select type, name from sqlite_master where name not like 'sqlite_%' "
                                    "order by type, name"));
}

const QString kShops = QStringLiteral("select id, dianzhu, webaddr from dianBase order by id");
const QString kRatings = QStringLiteral("select id, dian_id, pj, jg from pjInfo order by id");

// A database with two shops and three ratings.
void fill(TDM& dm)
{
    ASSERT_EQ(exec(dm, "insert into dianBase(dianzhu, webaddr) values('掌柜甲', 'http://127.0.0.1/a')"), 1);
    ASSERT_EQ(exec(dm, "insert into dianBase(dianzhu, webaddr) values('掌柜乙', 'http://127.0.0.1/b')"), 1);
    for (const char* values : {"(1, '好评', 10)", "(1, '中评', 2.5)", "(2, '好评', 7)"})
        ASSERT_EQ(
            exec(dm, QStringLiteral("insert into pjInfo(dian_id, pj, jg) values") + QLatin1String(values)),
            1);
}

TEST(SchemaMend, EachMissingPieceIsAddedOnceAndTheRowsStay)
{
    for (const schema::SchemaObject& piece : schema::objects()) {
        SCOPED_TRACE(piece.name.toStdString());
        QTemporaryDir dir;
        const QString path = dir.filePath("quelmar2.mdb");
        QStringList fullSchema, shops, ratings;
        {
            TDM dm;
            ASSERT_TRUE(dm.DataModuleCreate(path)) << dm.OpenError().toStdString();
            EXPECT_TRUE(dm.OpenNotice().isEmpty()) << "a new file is no mend";
            fill(dm);
            fullSchema = schemaOf(dm);
            shops = query(dm, kShops);
            ratings = query(dm, kRatings);
            ASSERT_GE(exec(dm, QStringLiteral("drop %1 %2").arg(piece.type, piece.name)), 0);
        }
        // A dropped table took its rows with it; the other table keeps its own.
        if (piece.name == QLatin1String("dianBase"))
            shops.clear();
        if (piece.name == QLatin1String("pjInfo"))
            ratings.clear();
        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(path)) << dm.OpenError().toStdString();
        EXPECT_EQ(schemaOf(dm), fullSchema);
        // Dropping a table drops its indexes with it; everything gone is named.
        EXPECT_TRUE(dm.adoCn.mended().contains(piece.type + u' ' + piece.name))
            << dm.adoCn.mended().join(", ").toStdString();
        EXPECT_TRUE(dm.OpenNotice().contains(piece.name)) << dm.OpenNotice().toStdString();
        EXPECT_EQ(query(dm, kShops), shops);
        EXPECT_EQ(query(dm, kRatings), ratings);
        // The mended pieces work: the browser edits and deletes through the view.
        ASSERT_GE(exec(dm, "insert into dianBase(dianzhu) values('新店')"), 0);
        ASSERT_GE(exec(dm, "update dianBaseSort set dianzhu='改名' where dianzhu='新店'"), 0);
        ASSERT_GE(exec(dm, "delete from dianBaseSort where dianzhu='改名'"), 0);
        EXPECT_EQ(query(dm, kShops), shops);

        TDM again;
        ASSERT_TRUE(again.DataModuleCreate(path));
        EXPECT_TRUE(again.adoCn.mended().isEmpty());
        EXPECT_TRUE(again.OpenNotice().isEmpty());
    }
}

TEST(SchemaMend, APieceThatCannotBeAddedLeavesTheFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("quelmar2.mdb");
    {
        TConnection old;
        ASSERT_TRUE(old.open(path));
        // A table of the view's name stands in the way; the view's triggers went with it.
        ASSERT_TRUE(
            old.exec("drop view dianBaseSort; drop index dianBase_webaddr; create table dianBaseSort(x)"));
    }
    TDM dm;
    EXPECT_FALSE(dm.DataModuleCreate(path));
    EXPECT_TRUE(dm.OpenError().startsWith(path + ": ")) << dm.OpenError().toStdString();
    EXPECT_TRUE(dm.OpenError().contains("already exists")) << dm.OpenError().toStdString();
    TConnection look;
    ASSERT_FALSE(look.open(path));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "select count(*) from sqlite_master where name='dianBase_webaddr' or "
                                 "(type='trigger' and tbl_name='dianBaseSort')",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 0) << "nothing of the failed mend stays";
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST(SchemaMend, DamagedFilesAreReportedWithTheirPathAndLeftAsTheyWere)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("quelmar2.mdb");
    QByteArray sound;
    {
        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(path));
        fill(dm);
        // Enough rows to give the rating table pages of its own past the schema.
        ASSERT_GT(
            exec(dm, "with recursive n(i) as (select 1 union all select i+1 from n where i<3000) "
                     "insert into pjInfo(dian_id, pj, pjInfo) select 1, '好评', hex(randomblob(40)) from n"),
            0);
        ASSERT_GE(exec(dm, "drop index dianBase_webaddr"), 0);
    }
    sound = readAll(path);
    ASSERT_GT(sound.size(), 100000);

    QByteArray pageDamaged = sound;
    // The middle of the file holds rating rows: scribble over them, far from the schema.
    for (qsizetype i = sound.size() / 2; i < sound.size() / 2 + 1000; ++i)
        pageDamaged[i] = static_cast<char>(0xA5);

    const struct
    {
        const char* name;
        QByteArray bytes;
        const char* engineSays;
    } cases[] = {
        {"not a database", QByteArray("配置=1\nthis is no database\n").repeated(300), "not a database"},
        {"cut short", sound.left(sound.size() / 2), "malformed"},
        {"schema overwritten", sound.left(100) + QByteArray(400, 'X') + sound.mid(500), "malformed"},
        // It also lacks an index: mending would write into it.
        {"damaged page", pageDamaged, "damaged: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        writeAll(path, c.bytes);
        TDM dm;
        EXPECT_FALSE(dm.DataModuleCreate(path));
        EXPECT_TRUE(dm.OpenError().startsWith(path + QStringLiteral(": "))) << dm.OpenError().toStdString();
        EXPECT_TRUE(dm.OpenError().contains(QLatin1String(c.engineSays))) << dm.OpenError().toStdString();
        EXPECT_FALSE(dm.adoCn.isOpen());
        EXPECT_TRUE(readAll(path) == c.bytes);
        // Every later action reports an error instead of touching the file.
        EXPECT_TRUE(query(dm, kShops).value(0).startsWith("error: "));
        EXPECT_TRUE(readAll(path) == c.bytes);
    }
}

// Fresh database with rows, lacking the rating table; answers the bytes of the file.
QByteArray lackingRatings(const QString& path)
{
    {
        TDM dm;
        EXPECT_TRUE(dm.DataModuleCreate(path));
        fill(dm);
        EXPECT_GE(exec(dm, "drop table pjInfo"), 0);
    }
    return readAll(path);
}

TEST(SchemaMend, AReadOnlyFileIsReadButNeverMended)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("quelmar2.mdb");
    const QByteArray before = lackingRatings(path);
    ReadOnlyPath readOnly(path);
    if (!readOnly.ok())
        GTEST_SKIP() << "cannot make a file read-only here";

    TDM dm;
    ASSERT_TRUE(dm.DataModuleCreate(path)) << dm.OpenError().toStdString();
    EXPECT_TRUE(dm.adoCn.readOnly());
    EXPECT_TRUE(dm.adoCn.mended().isEmpty());
    EXPECT_TRUE(dm.adoCn.unmended().contains("table pjInfo"));
    EXPECT_TRUE(dm.OpenNotice().contains(QStringLiteral("只读"))) << dm.OpenNotice().toStdString();
    EXPECT_TRUE(dm.OpenNotice().contains(QStringLiteral("pjInfo")));
    EXPECT_EQ(query(dm, kShops).size(), 2);
    EXPECT_LT(exec(dm, "delete from dianBase"), 0);
    EXPECT_TRUE(dm.ADOQuery1->lastError().contains("readonly")) << dm.ADOQuery1->lastError().toStdString();
    EXPECT_TRUE(readAll(path) == before);
}

TEST(SchemaMend, AFileInAReadOnlyFolderIsReadButNeverMended)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("data");
    QDir().mkpath(folder);
    const QString path = folder + "/quelmar2.mdb";
    const QByteArray before = lackingRatings(path);
    {
        ReadOnlyPath readOnly(folder);
        if (!readOnly.ok())
            GTEST_SKIP() << "cannot make a folder read-only here";

        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(path)) << dm.OpenError().toStdString();
        EXPECT_TRUE(dm.adoCn.readOnly());
        EXPECT_TRUE(dm.adoCn.unmended().contains("table pjInfo"));
        EXPECT_EQ(query(dm, kShops).size(), 2);
        EXPECT_LT(exec(dm, "delete from dianBase"), 0);

        // No file can be made in such a folder: said plainly.
        TDM fresh;
        EXPECT_FALSE(fresh.DataModuleCreate(folder + "/other.mdb"));
        EXPECT_TRUE(fresh.OpenError().contains("read-only")) << fresh.OpenError().toStdString();
    }
    EXPECT_TRUE(readAll(path) == before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"quelmar2.mdb"});
}

} // namespace

TEST(SchemaMend, KeysAreBuiltOnAThreadAndABuildGivenUpIsDoneAgainAtTheNextOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("quelmar2.mdb");
    {
        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(path)) << dm.OpenError().toStdString();
        fill(dm);
        ASSERT_GE(exec(dm, "drop index pjInfo_shop_when"), 0);
        ASSERT_GE(exec(dm, "drop index pjInfo_shop_itemkey"), 0);
        ASSERT_GE(exec(dm, "drop index dianBase_webaddr"), 0); // quick to build: the window need not wait
    }
    const QStringList slow{"index pjInfo_shop_when", "index pjInfo_shop_itemkey"};
    EXPECT_EQ(TSchemaBuild::slowPieces(path), slow);
    // The program ends during the build: nothing of it stays.
    for (bool cancelled : {true, false}) {
        SCOPED_TRACE(cancelled ? "given up" : "built");
        QStringList notices;
        bool ended = false;
        TSchemaBuild build(path);
        // Told on the building thread, which the test waits for.
        QObject::connect(
            &build, &TSchemaBuild::notice, &build, [&](const QString& text) { notices << text; },
            Qt::DirectConnection);
        QObject::connect(
            &build, &TSchemaBuild::done, &build, [&](bool ok) { ended = ok; }, Qt::DirectConnection);
        if (cancelled)
            build.cancel();
        build.start();
        ASSERT_TRUE(build.wait(60000));
        EXPECT_EQ(ended, !cancelled);
        EXPECT_EQ(build.mended(), cancelled ? QStringList() : QStringList{"index dianBase_webaddr"} + slow);
        EXPECT_EQ(notices.size(), cancelled ? 0 : 2) << notices.join(u'\n').toStdString();
        EXPECT_EQ(TSchemaBuild::slowPieces(path), cancelled ? slow : QStringList());
    }
    TDM dm;
    ASSERT_TRUE(dm.DataModuleCreate(path));
    EXPECT_TRUE(dm.adoCn.mended().isEmpty());
    EXPECT_EQ(query(dm, kRatings).size(), 3);
}
