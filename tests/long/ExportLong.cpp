// A rating export longer than one worksheet, read back by LibreOffice: 1,100,000 ratings make
// two sheets, each under the header row, and every rating comes back exactly once. About a
// minute; labelled long, so ctest -LE long leaves it out.
#include "browser/TExportJob.h"
#include "store/TConnection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

constexpr int kRatings = 1100000;

TEST(LongExport, MoreRatingsThanASheetHoldsGoOnInASecondSheetEachOnce)
{
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("quelmar2.mdb");
    {
        TConnection c;
        ASSERT_TRUE(c.open(path)) << c.error().toStdString();
        ASSERT_TRUE(c.exec("insert into dianbase(id,dianzhu,webaddr) values(1,'店','http://h/1')"));
        ASSERT_TRUE(c.exec(
            QStringLiteral("with recursive n(i) as (select 0 union all select i+1 from n where i<%1) "
                           "insert into pjinfo(dian_id,pj,buyerOrSaler,pjName,itemId,itemTitle,pjsj,jg,"
                           "pjInfo,pjjs,trade_id) select 1,'好评',1,'买家',i,'R'||i,"
                           "datetime(1767225600+i*20,'unixepoch'),i%100+0.5,'好','',i from n")
                .arg(kRatings - 1)))
            << c.error().toStdString();
    }
    TExportJob::Request request;
    request.kind = exportlayout::Kind::Ratings;
    request.format = TExportJob::Format::Xlsx;
    request.databasePath = path;
    for (int i = 1; i <= kRatings; ++i)
        request.ids.push_back(i);
    request.target = dir.filePath("r.xlsx");
    request.snapHost = QStringLiteral("http://snap.test");
    const TExportJob::Result result = TExportJob::run(request);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.rows, kRatings);
    EXPECT_EQ(result.sheets, 2);

    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(soffice, {"-env:UserInstallation=file://" + dir.filePath("profile"), "--headless", "--convert-to",
                      "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false,-1",
                      "--outdir", dir.filePath("out"), request.target});
    ASSERT_TRUE(p.waitForFinished(30 * 60 * 1000));
    int next = 0; // the ids were given in order: every rating once, in that order
    const QByteArray header =
        "\"评价\",\"评价人\",\"是否为买家\",\"价格\",\"评价时间\",\"商品标题\",\"评价信息\","
        "\"评价解释\",\"商品链接\"";
    qint64 lines[2] = {0, 0};
    for (int sheet = 0; sheet < 2; ++sheet) {
        QFile f(dir.filePath(QStringLiteral("out/r-Sheet%1.csv").arg(sheet + 1)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
        EXPECT_EQ(f.readLine().trimmed(), header);
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            // ...,"R123",...: the title holds the rating's number.
            const int at = line.indexOf(",\"R");
            ASSERT_GE(at, 0) << line.toStdString();
            const int n = line.mid(at + 3, line.indexOf('"', at + 3) - at - 3).toInt();
            ASSERT_EQ(n, next) << line.toStdString();
            ++next;
            ++lines[sheet];
        }
    }
    EXPECT_EQ(lines[0], TExportJob::kSheetRows);
    EXPECT_EQ(lines[1], kRatings - TExportJob::kSheetRows);
    EXPECT_EQ(next, kRatings);
    EXPECT_FALSE(QFile::exists(dir.filePath("out/r-Sheet3.csv")));
}

} // namespace
