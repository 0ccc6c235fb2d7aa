// Copies and exports: the clipboard texts, the CSV files byte for byte against files written
// by hand, the spreadsheet read back by LibreOffice, the worker, and the old file kept when
// an export cannot finish.
#include "BrowserFixture.h"
#include "browser/ExportLayout.h"
#include "browser/TExportJob.h"
#include "browser/TExportRun.h"
#include "extract/QtTestApp.h"
#include "text/GbkCodec.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <random>

using exportlayout::Kind;
using exportlayout::Record;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray handWritten(const char* name)
{
    return readAll(QStringLiteral(KESTROVA_TEST_DATA "/browser/") + QLatin1String(name));
}

class ExportFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dm.DataModuleCreate(dir.filePath("quelmar2.mdb"))) << dm.OpenError().toStdString();
        sample = browserdata::addSample(dm);
        ASSERT_NE(sample.r3, 0);
    }

    // The cursor's rows with a filter and a sort, as the views leave it.
    std::vector<qlonglong> ids(TTable* cursor, const QString& filter, const QString& sort = QString())
    {
        EXPECT_TRUE(cursor->SetFilter(filter));
        EXPECT_TRUE(cursor->SetFiltered(true));
        EXPECT_TRUE(cursor->SetSort(sort));
        EXPECT_TRUE(cursor->Open()) << cursor->lastError().toStdString();
        return cursor->Keys();
    }

    TExportJob::Request request(Kind kind, TExportJob::Format format, std::vector<qlonglong> rows,
                                const QString& name)
    {
        TExportJob::Request r;
        r.kind = kind;
        r.format = format;
        r.databasePath = dm.adoCn.path();
        r.ids = std::move(rows);
        r.target = dir.filePath(name);
        r.snapHost = browserdata::kSnapHost;
        return r;
    }

    Record current(TTable* cursor, Kind kind)
    {
        QVariantList values;
        for (const QString& c : exportlayout::recordColumns(kind))
            values << cursor->value(cursor->RecNo() - 1, cursor->FieldIndex(c));
        return Record(kind, values);
    }

    QTemporaryDir dir;
    TDM dm;
    browserdata::Sample sample;
};

} // namespace

TEST(ExportLayout, MemberIdSnapshotLinkAndCsvCleaning)
{
    EXPECT_EQ(exportlayout::memberId("http://127.0.0.1:8631/shop/view_shop-5678.htm"), "12700186315678");
    EXPECT_EQ(exportlayout::memberId("http://shop.example/abc/"), QString());
    EXPECT_EQ(exportlayout::snapshotLink(" http://s", "T9", "I1"),
              "http://s/auction/snap_detail.htm?trade_id=T9&auction_id=I1");
    EXPECT_EQ(exportlayout::snapshotLink("http://s", QVariant(), "I1"), "无法链接商品");
    EXPECT_EQ(exportlayout::cleanCsvField("a, b\tc\r\nd,e"), "a、bcd、e");
}

TEST(ExportLayout, PricesReadAsQtWritesThemWithFifteenDigits)
{
    std::vector<double> values{0.0,
                               -0.0,
                               0.1,
                               19.9,
                               1e15,
                               1e16,
                               123456789012345.6,
                               1e-4,
                               1e-5,
                               1e300,
                               -2.5e-320,
                               std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::min(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    for (int cents = 0; cents < 200000; cents += 7)
        values.push_back(cents / 100.0);
    std::mt19937_64 bits(20261209);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t b = bits();
        double d;
        std::memcpy(&d, &b, sizeof d);
        values.push_back(d);
    }
    for (double v : values) {
        std::string ours;
        exportlayout::appendNumber15(ours, v);
        ASSERT_EQ(ours, QString::number(v, 'g', 15).toStdString()) << v;
    }
}

TEST_F(ExportFixture, CopiesEndEachLineWithACarriageReturnAlone)
{
    TTable* shops = dm.tb_dianbase;
    ids(shops, QString());
    const QString shop = exportlayout::shopCopy(current(shops, Kind::Shops));
    EXPECT_FALSE(shop.contains(u'\n'));
    const QStringList lines = shop.split(u'\r');
    ASSERT_EQ(lines.size(), 20); // 19 lines and the text after the last carriage return
    EXPECT_EQ(lines[0], "掌柜：店主甲");
    EXPECT_EQ(lines[1], "评价人ID:12700186315678");
    EXPECT_EQ(lines[2], "店铺名：甲的小店");
    EXPECT_EQ(lines[3], "地址：杭州, 西湖");
    EXPECT_EQ(lines[18], "创建日期：2020-05-06");
    EXPECT_EQ(lines[19], QString());

    TTable* ratings = dm.tb_pjinfo;
    ids(ratings, "dian_id =" + QString::number(sample.shopA));
    EXPECT_EQ(exportlayout::ratingCopy(current(ratings, Kind::Ratings), browserdata::kSnapHost),
              "评价：好评\r评价人：买家,甲(买家)\r价格：128.5元\r评价时间：2026-11-02 8:05:09\r"
              "商品标题：=SUM(A1)\r评价信息：质量好, 发货快\r\n下次再来😀\r评价解释：\r"
              "商品链接：http://snap.test:81/auction/snap_detail.htm?trade_id=T1&auction_id=I100\r");
    ratings->Next();
    const QString second = exportlayout::ratingCopy(current(ratings, Kind::Ratings), browserdata::kSnapHost);
    EXPECT_TRUE(second.contains("评价人：卖家乙(卖家)\r"));
    EXPECT_TRUE(second.endsWith("商品链接：无法链接商品\r"));
}

TEST_F(ExportFixture, CsvFilesMatchTheFilesWrittenByHand)
{
    auto r =
        TExportJob::run(request(Kind::Ratings, TExportJob::Format::Csv,
                                ids(dm.tb_pjinfo, "dian_id =" + QString::number(sample.shopA)), "r.csv"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(readAll(dir.filePath("r.csv")), handWritten("ratings.csv"));

    r = TExportJob::run(
        request(Kind::Shops, TExportJob::Format::Csv, ids(dm.tb_dianbase, QString()), "s.csv"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(readAll(dir.filePath("s.csv")), handWritten("shops.csv"));

    // A shop without ratings gives the header line alone.
    r = TExportJob::run(request(Kind::Ratings, TExportJob::Format::Csv, {}, "none.csv"));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(readAll(dir.filePath("none.csv")), handWritten("ratings.csv").split('\n').first() + '\n');
}

TEST_F(ExportFixture, RowsFollowTheCursorsFilterAndSortAndDeletedRowsAreSkipped)
{
    const auto rows = ids(dm.tb_pjinfo, "jg >=30", "jg DESC ");
    ASSERT_EQ(rows, (std::vector<qlonglong>{sample.r1, sample.r3, sample.r2}));
    dm.ADOQuery1->SetSQL("delete from pjInfo where id=:id");
    dm.ADOQuery1->SetParam("id", sample.r3);
    ASSERT_EQ(dm.ADOQuery1->ExecSQL(), 1);
    auto r = TExportJob::run(request(Kind::Ratings, TExportJob::Format::Csv, rows, "r.csv"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.rows, 2);
    const QList<QByteArray> lines = readAll(dir.filePath("r.csv")).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[1].startsWith(QByteArray("\xba\xc3\xc6\xc0,", 5))); // 好评
    EXPECT_TRUE(lines[2].startsWith(QByteArray("\xd6\xd0\xc6\xc0,", 5))); // 中评
}

TEST_F(ExportFixture, AFailedOrCancelledExportLeavesTheOldFileAndNoTemporaryFile)
{
    const QString target = dir.filePath("keep.csv");
    {
        QFile old(target);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    std::atomic<bool> cancel{true};
    auto r = TExportJob::run(
        request(Kind::Ratings, TExportJob::Format::Csv, ids(dm.tb_pjinfo, QString()), "keep.csv"), {},
        &cancel);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    r = TExportJob::run(
        request(Kind::Ratings, TExportJob::Format::Xlsx, ids(dm.tb_pjinfo, QString()), "keep.csv"), {},
        &cancel);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(readAll(target), "old contents");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"keep.csv", "quelmar2.mdb", "quelmar2.mdb-shm", "quelmar2.mdb-wal"}));

    // A folder that cannot hold the file: a clear error, nothing else.
    for (auto format : {TExportJob::Format::Csv, TExportJob::Format::Xlsx}) {
        r = TExportJob::run(request(Kind::Shops, format, ids(dm.tb_dianbase, QString()), "keep.csv/x.out"));
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.error.isEmpty());
    }
    EXPECT_EQ(readAll(target), "old contents");

    // A target that cannot be read (here a folder) is refused before anything is written.
    QDir(dir.path()).mkdir("busy.csv");
    EXPECT_EQ(TExportJob::blockedTarget(dir.filePath("busy.csv"), TExportJob::Format::Csv),
              dir.filePath("busy.csv") + "文件可能已被打开或损坏，重新选择或关闭文件！");
    EXPECT_EQ(TExportJob::blockedTarget(target, TExportJob::Format::Csv), QString());
    EXPECT_EQ(TExportJob::blockedTarget(dir.filePath("new.csv"), TExportJob::Format::Csv), QString());
}

TEST_F(ExportFixture, SpreadsheetReadBackHasHeadersNumericPricesAndNoFormulas)
{
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    // A text longer than a cell holds is cut, not refused; one that looks like the sheet's
    // escape comes back as typed.
    browserdata::addRating(dm, sample.shopA, "好评", true, "_x0041_长", "1", "2026-05-05 5:05:05", "I9",
                           "长评", QString(40000, u'x'), QString(), "T9");
    auto r =
        TExportJob::run(request(Kind::Ratings, TExportJob::Format::Xlsx,
                                ids(dm.tb_pjinfo, "dian_id =" + QString::number(sample.shopA)), "r.xlsx"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    r = TExportJob::run(
        request(Kind::Shops, TExportJob::Format::Xlsx, ids(dm.tb_dianbase, QString()), "s.xlsx"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();

    const QString out = dir.filePath("out");
    QProcess p;
    p.setWorkingDirectory(dir.path());
    // A profile of its own, so a LibreOffice the user has open does not take the job.
    p.start(soffice, {"-env:UserInstallation=file://" + dir.filePath("profile"), "--headless", "--convert-to",
                      "csv:Text - txt - csv (StarCalc):44,34,76,1", "--outdir", out, dir.filePath("r.xlsx"),
                      dir.filePath("s.xlsx")});
    ASSERT_TRUE(p.waitForFinished(120000));
    // An XML reader turns the comment's CR LF into LF; the line break itself stays in the cell.
    const QStringList ratings = QString::fromUtf8(readAll(out + "/r.csv")).split('\n');
    ASSERT_GE(ratings.size(), 4) << readAll(out + "/r.csv").toStdString();
    EXPECT_EQ(ratings[0],
              "\"评价\",\"评价人\",\"是否为买家\",\"价格\",\"评价时间\",\"商品标题\",\"评价信息\","
              "\"评价解释\",\"商品链接\"");
    // Texts come back quoted, the price as a bare number; "=SUM(A1)" stays a text.
    EXPECT_EQ(ratings[1],
              "\"好评\",\"买家,甲\",\"(买家)\",128.5,\"2026-11-02 8:05:09\",\"=SUM(A1)\",\"质量好, 发货快");
    EXPECT_EQ(ratings[2],
              "下次再来😀\",,\"http://snap.test:81/auction/snap_detail.htm?trade_id=T1&auction_id=I100\"");
    EXPECT_EQ(
        ratings[3],
        "\"中评\",\"卖家乙\",\"(卖家)\",30,\"2026-01-15 23:00:00\",\"+86 电话\",\"一般\",\"已处理 谢谢\","
        "\"无法链接商品\"");
    ASSERT_GE(ratings.size(), 5);
    EXPECT_TRUE(ratings[4].startsWith("\"好评\",\"_x0041_长\","));
    EXPECT_TRUE(ratings[4].contains("\"" + QString(TExportJob::kMaxCellText, u'x') + "\""));

    const QStringList shops = QString::fromUtf8(readAll(out + "/s.csv")).split('\n');
    ASSERT_GE(shops.size(), 3);
    EXPECT_TRUE(shops[0].startsWith("\"掌柜：\",\"掌拒ID\",\"店铺名：\""));
    EXPECT_TRUE(shops[0].endsWith("\"创建日期：\""));
    EXPECT_TRUE(shops[1].startsWith("\" 店主甲 \",\"12700186315678\",\"甲的小店\",\"杭州, 西湖\","));
    EXPECT_EQ(shops[2], "\"乙\",,,,\"http://shop.example/abc/\",,,,,,,,,,,,,,");
}

TEST_F(ExportFixture, TheRunWorksOnAThreadAndTakesOneExportAtATime)
{
    ensureCoreApp();
    TExportRun run;
    QSignalSpy finished(&run, &TExportRun::finished);
    QSignalSpy progress(&run, &TExportRun::progressChanged);
    ASSERT_TRUE(
        run.start(request(Kind::Shops, TExportJob::Format::Csv, ids(dm.tb_dianbase, QString()), "s.csv")));
    EXPECT_TRUE(run.busy());
    EXPECT_FALSE(run.start(request(Kind::Shops, TExportJob::Format::Csv, {}, "other.csv")));
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_FALSE(run.busy());
    const auto result = finished.first().first().value<TExportJob::Result>();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.rows, 2);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toLongLong(), 2);
    EXPECT_EQ(readAll(dir.filePath("s.csv")), handWritten("shops.csv"));
    EXPECT_FALSE(QFile::exists(dir.filePath("other.csv")));
}

TEST_F(ExportFixture, ALongSpreadsheetGoesOnInMoreSheetsEachWithTheHeaderRow)
{
    const auto rows = ids(dm.tb_pjinfo, QString(), "jg DESC ");
    ASSERT_EQ(rows.size(), 3u);
    TExportJob::Request r = request(Kind::Ratings, TExportJob::Format::Xlsx, rows, "two.xlsx");
    r.sheetRows = 2;
    auto result = TExportJob::run(r);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.rows, 3);
    EXPECT_EQ(result.sheets, 2);
    // Exactly full sheets take no empty one after them; a CSV file has no sheets.
    r.target = dir.filePath("other.xlsx");
    r.sheetRows = 3;
    EXPECT_EQ(TExportJob::run(r).sheets, 1);
    r.ids.clear();
    EXPECT_EQ(TExportJob::run(r).sheets, 1) << "the header row alone";
    r.sheetRows = 1;
    r.ids = rows;
    EXPECT_EQ(TExportJob::run(r).sheets, 3);
    EXPECT_EQ(TExportJob::run(request(Kind::Ratings, TExportJob::Format::Csv, rows, "r.csv")).sheets, 0);

    // Batches: an id given twice is written twice, in its places; a deleted one is skipped.
    std::vector<qlonglong> many;
    for (int i = 0; i < 700; ++i)
        many.push_back(rows[static_cast<size_t>(i) % 3]);
    many.push_back(999999);
    result = TExportJob::run(request(Kind::Ratings, TExportJob::Format::Csv, many, "many.csv"));
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.rows, 700);
    const QList<QByteArray> lines = readAll(dir.filePath("many.csv")).split('\n');
    const QList<QByteArray> three = readAll(dir.filePath("r.csv")).split('\n');
    ASSERT_EQ(lines.size(), 702);
    for (int i = 0; i < 700; ++i)
        ASSERT_EQ(lines[i + 1], three[i % 3 + 1]) << i;

    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    const QString out = dir.filePath("out");
    QProcess p;
    p.setWorkingDirectory(dir.path());
    // Sheet number -1: every sheet to a file of its own, "two-Sheet1.csv" ...
    p.start(soffice, {"-env:UserInstallation=file://" + dir.filePath("profile"), "--headless", "--convert-to",
                      "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false,-1",
                      "--outdir", out, dir.filePath("two.xlsx")});
    ASSERT_TRUE(p.waitForFinished(120000));
    const QStringList first =
        QString::fromUtf8(readAll(out + "/two-Sheet1.csv")).split('\n', Qt::SkipEmptyParts);
    const QStringList second =
        QString::fromUtf8(readAll(out + "/two-Sheet2.csv")).split('\n', Qt::SkipEmptyParts);
    const QString header =
        "\"评价\",\"评价人\",\"是否为买家\",\"价格\",\"评价时间\",\"商品标题\",\"评价信息\","
        "\"评价解释\",\"商品链接\"";
    ASSERT_EQ(second.size(), 2) << second.join('\n').toStdString();
    EXPECT_EQ(first.first(), header);
    EXPECT_EQ(second.first(), header);
    EXPECT_EQ(second[1], "\"中评\",\"卖家乙\",\"(卖家)\",30,\"2026-01-15 23:00:00\",\"+86 电话\",\"一般\","
                         "\"已处理 谢谢\",\"无法链接商品\"");
    EXPECT_FALSE(QFile::exists(out + "/two-Sheet3.csv"));
}

TEST_F(ExportFixture, CsvLinesReadStraightFromTheFileEqualTheLayoutsLines)
{
    // Rating CSV lines are built on the stored UTF-8 itself when the values are stored the
    // usual way; each line must be what the layout builds from the same row's values.
    using browserdata::addRating;
    const qlonglong shop = sample.shopA;
    addRating(dm, shop, "好评", false, QString::fromUtf8("甲\u00a0乙\u3000丙\t丁"), "0.1",
              "2026-02-03 04:05:06", "I1", "标,题, 😀", "多\r\n行\u2028评价", QString::fromUtf8("解\u202f释"),
              "T,1");
    addRating(dm, shop, "中评", true, "", "19.99", "2026-02-03 14:05:06", QString(), "", "", "", "T2");
    // A text beginning with a byte order mark loses it on the way to a QString.
    addRating(dm, shop, "好评", true, QString::fromUtf16(u"\uFEFF买家"), "1", "2026-02-03 14:05:06", "I2",
              "t", QString::fromUtf16(u"\uFEFF评价"), "", "T5");
    // A link ending in a blank, a time not in the stored form and a price held as text go
    // the general way, and come out the same.
    addRating(dm, shop, "坏评", true, "x", "1e21", "2026-02-03 00:00:00", "I3 ", "t", "c", "e", "T3");
    ASSERT_TRUE(dm.adoCn.exec("insert into pjinfo(dian_id,pj,buyerOrSaler,pjsj,jg,trade_id,itemId) "
                              "values(" +
                              QString::number(shop) + ",'好评','yes','2026-2-3',' 12 ','T4','I4')"));
    ASSERT_TRUE(dm.adoCn.exec("insert into pjinfo(dian_id) values(" + QString::number(shop) + ")"));
    const auto rows = ids(dm.tb_pjinfo, QString(), "id");
    const auto r = TExportJob::run(request(Kind::Ratings, TExportJob::Format::Csv, rows, "fast.csv"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    QString want = exportlayout::csvHeader(Kind::Ratings) + "\r\n";
    for (size_t k = 0; k < rows.size(); ++k) {
        ASSERT_TRUE(dm.tb_pjinfo->MoveTo(static_cast<int>(k) + 1));
        want += exportlayout::csvLine(current(dm.tb_pjinfo, Kind::Ratings), browserdata::kSnapHost) + "\r\n";
    }
    EXPECT_EQ(rows.size(), 9u);
    EXPECT_EQ(QString::fromStdString(gbk::toUtf8(readAll(dir.filePath("fast.csv")).toStdString())), want);
    EXPECT_EQ(readAll(dir.filePath("fast.csv")), QByteArray::fromStdString(gbk::fromQString(want)));
}

namespace {

// One stored rating value, given once and handed over both ways: as the engine's raw value
// and as the QVariant the general path reads.
struct Stored
{
    exportlayout::RawValue::Type type = exportlayout::RawValue::Type::Null;
    std::string bytes; // a text's or a blob's
    qint64 integer = 0;
    double real = 0;
};

Stored text(std::string bytes)
{
    return {exportlayout::RawValue::Type::Text, std::move(bytes)};
}
Stored integer(qint64 v)
{
    return {exportlayout::RawValue::Type::Integer, {}, v};
}
Stored real(double v)
{
    return {exportlayout::RawValue::Type::Float, {}, 0, v};
}
Stored null()
{
    return {};
}

using StoredRow = std::map<QString, Stored>;

// The usual rating: every value as the saver stores it.
StoredRow usualRating()
{
    return {
        {"pj", text("好评")},    {"buyerOrSaler", integer(1)},        {"pjName", text("买家甲")},
        {"itemId", text("I1")},  {"itemTitle", text("标题 <b>&\"'")}, {"pjsj", text("2026-02-03 04:05:06")},
        {"jg", real(19.99)},     {"pjInfo", text("多\r\n行 评价")},   {"pjjs", text("")},
        {"trade_id", text("T1")}};
}

struct BothWays
{
    bool fast = false;
    exportlayout::SheetRowUtf8 fastRow, generalRow;
    bool csvFast = false;
    std::string csvFastLine, csvGeneralLine;
};

BothWays bothWays(const StoredRow& row)
{
    using Type = exportlayout::RawValue::Type;
    std::vector<exportlayout::RawValue> raw;
    QVariantList values;
    for (const QString& column : exportlayout::recordColumns(Kind::Ratings)) {
        static const Stored kNull;
        const auto it = row.find(column);
        const Stored& s = it == row.end() ? kNull : it->second;
        exportlayout::RawValue v;
        v.type = s.type;
        v.integer = s.integer;
        v.real = s.real;
        v.text = s.bytes;
        switch (s.type) {
        case Type::Integer:
            values << QVariant(s.integer);
            break;
        case Type::Float:
            values << QVariant(s.real);
            break;
        case Type::Text:
            values << QVariant(QString::fromUtf8(s.bytes.data(), static_cast<qsizetype>(s.bytes.size())));
            break;
        case Type::Other:
            values << QVariant(QByteArray::fromStdString(s.bytes));
            break;
        case Type::Null:
            values << QVariant();
            break;
        }
        raw.push_back(v);
    }
    BothWays out;
    out.fast = exportlayout::ratingSheetRowUtf8(raw.data(), raw.size(), browserdata::kSnapHost.toStdString(),
                                                out.fastRow);
    exportlayout::toSheetRowUtf8(
        exportlayout::sheetRow(Record(Kind::Ratings, values), browserdata::kSnapHost), out.generalRow);
    out.csvFast = exportlayout::ratingCsvLineUtf8(raw.data(), raw.size(),
                                                  browserdata::kSnapHost.toStdString(), out.csvFastLine);
    out.csvGeneralLine =
        exportlayout::csvLine(Record(Kind::Ratings, values), browserdata::kSnapHost).toStdString();
    return out;
}

// What the library is handed for each cell: a number, or the text up to its first NUL (or
// nothing for an empty one); a long text by its length and hash, to keep failures readable.
std::vector<std::string> written(const exportlayout::SheetRowUtf8& row)
{
    std::vector<std::string> cells;
    for (const auto& cell : row.cells) {
        if (cell.isNumber) {
            cells.push_back("number:" + std::to_string(cell.number));
        } else if (cell.size == 0) {
            cells.push_back("<empty>");
        } else {
            const std::string t = row.text(cell);
            cells.push_back(t.size() <= 200 ? "text:" + t
                                            : "text of " + std::to_string(t.size()) + " bytes, hash " +
                                                  std::to_string(std::hash<std::string>()(t)));
        }
    }
    return cells;
}

} // namespace

TEST(ExportLayout, SheetCellsReadStraightFromTheStoredValuesEqualTheLayoutsCells)
{
    struct Case
    {
        const char* what;
        StoredRow row;
        bool fast;
    };
    std::vector<Case> cases;
    auto with = [](std::initializer_list<std::pair<const QString, Stored>> changes) {
        StoredRow row = usualRating();
        for (const auto& [column, value] : changes)
            row[column] = value;
        return row;
    };
    cases.push_back({"usual", usualRating(), true});
    cases.push_back({"seller, whole price, hour 14, no item",
                     with({{"buyerOrSaler", integer(0)},
                           {"jg", integer(30)},
                           {"pjsj", text("2026-02-03 14:05:06")},
                           {"itemId", null()}}),
                     true});
    cases.push_back({"nulls and no trade number",
                     with({{"pj", null()},
                           {"buyerOrSaler", null()},
                           {"jg", null()},
                           {"pjsj", null()},
                           {"pjInfo", null()},
                           {"trade_id", null()}}),
                     true});
    cases.push_back({"odd but valid texts",
                     with({{"pjName", text("\xEF\xBB\xBF"
                                           "bom \xEF\xBF\xBE 😀 =1+1")},
                           {"pjInfo", text(std::string("before\0after", 12))},
                           {"itemTitle", text(std::string(32767, 'x'))}}),
                     true});
    cases.push_back({"a text one byte too long for the quick check",
                     with({{"itemTitle", text(std::string(32768, 'x'))}}), false});
    std::string chinese;
    for (int i = 0; i < 12000; ++i)
        chinese += "字";
    cases.push_back(
        {"a long text of many bytes but few characters", with({{"pjInfo", text(chinese)}}), false});
    cases.push_back({"a text longer than a cell", with({{"pjInfo", text(std::string(40000, 'y'))}}), false});
    cases.push_back({"invalid UTF-8", with({{"pjjs", text("bad \xC3\x28 \xED\xA0\x80 \xF8")}}), false});
    cases.push_back({"a link ending in a blank", with({{"itemId", text("I3 ")}}), false});
    cases.push_back(
        {"a link part with a byte order mark", with({{"trade_id", text("\xEF\xBB\xBFT1")}}), false});
    cases.push_back({"a time not in the stored form", with({{"pjsj", text("2026-2-3")}}), false});
    cases.push_back({"a price held as text", with({{"jg", text(" 12 ")}}), false});
    cases.push_back({"a boolean held as text", with({{"buyerOrSaler", text("yes")}}), false});
    cases.push_back({"a trade number held as a number", with({{"trade_id", integer(42)}}), false});
    cases.push_back({"a blob", with({{"pj", {exportlayout::RawValue::Type::Other, "raw"}}}), false});
    const StoredRow escapes = with({{"pjName", text("_x0041_ and _x000d_, _x12 _x_xBEEF")},
                                    {"itemId", text("_x0042_")},
                                    {"pjInfo", text("_x0041" + std::string(32761, 'z'))}});
    cases.push_back({"texts that look like the sheet's escapes", escapes, true});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const BothWays both = bothWays(c.row);
        EXPECT_EQ(both.fast, c.fast);
        ASSERT_EQ(both.generalRow.cells.size(), 9u);
        if (both.fast) {
            EXPECT_EQ(written(both.fastRow), written(both.generalRow));
        }
        if (both.csvFast) {
            EXPECT_EQ(both.csvFastLine, both.csvGeneralLine);
        }
    }
    // The cells themselves, once: the price a number, the time without the hour's zero, the
    // link built and the empty explanation left out.
    const BothWays usual = bothWays(usualRating());
    EXPECT_EQ(written(usual.fastRow),
              (std::vector<std::string>{"text:好评", "text:买家甲", "text:(买家)", "number:19.990000",
                                        "text:2026-02-03 4:05:06", "text:标题 <b>&\"'", "text:多\r\n行 评价",
                                        "<empty>",
                                        "text:" + browserdata::kSnapHost.toStdString() +
                                            "/auction/snap_detail.htm?trade_id=T1&auction_id=I1"}));
    // A literal "_x" before four hex digits is escaped, in every text and the link; the
    // escape counts against a full cell's characters.
    const BothWays escaped = bothWays(escapes);
    EXPECT_EQ(written(escaped.fastRow)[1], "text:_x005F_x0041_ and _x005F_x000d_, _x12 _x_x005F_xBEEF");
    EXPECT_TRUE(written(escaped.fastRow)[8].ends_with("&auction_id=_x005F_x0042_"));
    EXPECT_EQ(escaped.fastRow.cells[6].size, static_cast<uint32_t>(TExportJob::kMaxCellText));
    EXPECT_TRUE(escaped.fastRow.text(escaped.fastRow.cells[6]) ==
                "_x005F_x0041" + std::string(TExportJob::kMaxCellText - 12, 'z'));
    // A text of more than a cell's characters is cut to exactly a cell's worth.
    const BothWays tooLong = bothWays(with({{"pjInfo", text(std::string(40000, 'y'))}}));
    EXPECT_EQ(tooLong.generalRow.cells[6].size, static_cast<uint32_t>(TExportJob::kMaxCellText));
}

// Random ratings of the values the saver stores and of odd ones: wherever a fast path takes a
// row, its CSV line and its sheet cells are the general rules' to the byte.
TEST(ExportLayout, RandomRowsComeOutTheSameBothWaysInBothFormats)
{
    std::mt19937 random(20261209);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::vector<std::string> pieces = {"好评",
                                             "买家",
                                             "a",
                                             "Z9",
                                             ",",
                                             " ",
                                             "\t",
                                             "\r\n",
                                             "\n",
                                             "\"",
                                             "'",
                                             "\xC2\xA0",
                                             "\xE3\x80\x80",
                                             "\xE2\x80\xA8",
                                             "😀",
                                             "\xE0\xB8\x81",
                                             "€",
                                             "_x0041_",
                                             "_x",
                                             "=1+1",
                                             "\xEF\xBB\xBF",
                                             "\xC3\x28",
                                             std::string("\0", 1),
                                             "字字字"};
    auto randomText = [&] {
        std::string t;
        for (int n = pick(6); n > 0; --n)
            t += pieces[static_cast<size_t>(pick(static_cast<int>(pieces.size())))];
        return t;
    };
    auto randomTime = [&] {
        char stored[32];
        std::snprintf(stored, sizeof stored, "20%02d-%02d-%02d %02d:%02d:%02d", pick(30), 1 + pick(12),
                      1 + pick(28), pick(24), pick(60), pick(60));
        return pick(10) == 0 ? std::string("2026-2-3") : std::string(stored);
    };
    auto maybeNull = [&](Stored value) { return pick(8) == 0 ? null() : value; };
    int csvFast = 0, sheetFast = 0;
    const int rows = 3000;
    for (int i = 0; i < rows; ++i) {
        StoredRow row = usualRating();
        for (const char* column : {"pj", "pjName", "itemTitle", "pjInfo", "pjjs"})
            row[column] = maybeNull(text(randomText()));
        row["buyerOrSaler"] = maybeNull(pick(10) == 0 ? text("yes") : integer(pick(2)));
        const double price = pick(1000000) / 100.0 * (pick(10) == 0 ? -1 : 1);
        row["jg"] = maybeNull(pick(10) == 0 ? integer(pick(1000)) : real(price));
        row["pjsj"] = maybeNull(text(randomTime()));
        row["trade_id"] = maybeNull(text("T" + std::to_string(pick(100000)) + (pick(10) == 0 ? " " : "")));
        row["itemId"] = maybeNull(text(pick(10) == 0 ? randomText() : "I" + std::to_string(pick(1000))));
        const BothWays both = bothWays(row);
        SCOPED_TRACE(both.csvGeneralLine);
        if (both.csvFast) {
            ++csvFast;
            ASSERT_EQ(both.csvFastLine, both.csvGeneralLine);
        }
        if (both.fast) {
            ++sheetFast;
            ASSERT_EQ(written(both.fastRow), written(both.generalRow));
        }
    }
    // Not a vacuous comparison: most rows take the fast paths.
    EXPECT_GT(csvFast, rows / 3);
    EXPECT_GT(sheetFast, rows / 3);
}
