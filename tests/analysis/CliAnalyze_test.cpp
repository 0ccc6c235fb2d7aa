// kestrova-cli analyze: the views' statements and labels as JSON lines, and the charts drawn
// offscreen into pictures.
#include "cli/CliProcess.h"
#include "store/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>

namespace {

class CliAnalyze : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        shop = addShop("掌柜一", "http://127.0.0.1:8631/shop/1");
        addRating(shop, "好评", "True", "2026-03-01 13:10:00", "A", "10");
        addRating(shop, "好评", "True", "2026-03-02 09:10:00", "A", "10");
        addRating(shop, "中评", "True", "2026-05-02 21:10:00", "B", "35.5");
        addRating(shop, "好评", "0", "2026-06-02 21:10:00", "C", "8");
    }

    struct Run
    {
        int status = -1;
        QStringList lines;
        QString err;
    };

    Run cli(const QStringList& args)
    {
        const CliResult r = runCli(m_dir.path(), QStringList{"analyze"} + args);
        return {r.status, r.out.split(u'\n', Qt::SkipEmptyParts), r.err};
    }

    QString shopId() const { return QString::number(shop); }
    QString picture(const QString& name) const { return m_dir.filePath(name); }

    // Distinct colours in a grid of samples: a blank picture has one or two.
    static int colours(const QImage& image)
    {
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); y += 4)
            for (int x = 0; x < image.width(); x += 4)
                seen.insert(image.pixel(x, y));
        return static_cast<int>(seen.size());
    }

    qlonglong shop = 0;
};

TEST_F(CliAnalyze, RankTrendAndDistributionRowsWithLabelsAndPictures)
{
    Run r = cli({"rank", "--shop", shopId(), "--from", "2026-01-01", "--to", "2026-12-31", "--top", "5",
                 "--by", "amount", "--png", picture("rank.png"), "--svg", picture("rank.svg")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines,
              (QStringList{"{\"amount\": 35.5, \"itemTitle\": \"商品B\", \"itemId\": \"B\", \"jg\": 35.5, "
                           "\"num\": 1, \"dian_id\": 1, \"label\": \"第1名\"}",
                           "{\"amount\": 20, \"itemTitle\": \"商品A\", \"itemId\": \"A\", \"jg\": 10, "
                           "\"num\": 2, \"dian_id\": 1, \"label\": \"第2名\"}"}));

    r = cli({"rank", "--shop", shopId(), "--from", "2026-01-01", "--to", "2026-12-31", "--kind", "买"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), 1);
    EXPECT_TRUE(r.lines[0].contains("\"itemId\": \"C\"")) << r.lines[0].toStdString();

    r = cli({"trend", "--shop", shopId(), "--from", "2026-01-01", "--to", "2026-12-31", "--period", "month",
             "--png", picture("trend.png")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(
        r.lines,
        (QStringList{"{\"totalAmount\": 20, \"num\": 2, \"time1\": \"2026-03\", \"label\": \"2026-03\"}",
                     "{\"totalAmount\": 35.5, \"num\": 1, \"time1\": \"2026-05\", \"label\": "
                     "\"2026-05\"}"}));

    r = cli({"dist", "--shop", shopId(), "--from", "2026-01-01", "--to", "2026-12-31", "--period", "hour",
             "--png", picture("dist.png")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines,
              (QStringList{"{\"dian_id\": 1, \"totalAmount\": 10, \"num\": 1, \"time1\": 9, \"label\": "
                           "\"9点\"}",
                           "{\"dian_id\": 1, \"totalAmount\": 10, \"num\": 1, \"time1\": 13, \"label\": "
                           "\"13点\"}",
                           "{\"dian_id\": 1, \"totalAmount\": 43.5, \"num\": 2, \"time1\": 21, \"label\": "
                           "\"21点\"}"}));

    const struct
    {
        const char* file;
        QSize size;
    } pictures[] = {{"rank.png", {800, 500}}, {"trend.png", {800, 600}}, {"dist.png", {800, 500}}};
    for (const auto& p : pictures) {
        QImage image(picture(p.file));
        ASSERT_FALSE(image.isNull()) << p.file;
        EXPECT_EQ(image.size(), p.size) << p.file;
        EXPECT_GT(colours(image), 10) << p.file;
    }
    QFile svg(picture("rank.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QByteArray text = svg.readAll();
    EXPECT_TRUE(text.startsWith("<?xml")) << text.left(40).toStdString();
    EXPECT_TRUE(text.contains("<svg"));
}

TEST_F(CliAnalyze, ShopsSideBySideAndTheMarketRankingAsJsonLines)
{
    const QStringList range{"--from", "2026-01-01", "--to", "2026-12-31"};
    Run r = cli(QStringList{"compare", "--shops", shopId() + u',' + shopId(), "--measure", "count",
                            "--period", "month", "--png", picture("compare.png")} +
                range);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines, (QStringList{"{\"period\": \"2026-03\", \"shopId\": 1, \"value\": 2}",
                                    "{\"period\": \"2026-03\", \"shopId\": 1, \"value\": 2}",
                                    "{\"period\": \"2026-05\", \"shopId\": 1, \"value\": 1}",
                                    "{\"period\": \"2026-05\", \"shopId\": 1, \"value\": 1}"}));
    EXPECT_GT(colours(QImage(picture("compare.png"))), 3);
    r = cli(QStringList{"market", "--top", "1", "--by", "amount", "--filter", "dianzhu like %掌柜%"} + range);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(
        r.lines,
        QStringList{"{\"amount\": 35.5, \"itemTitle\": \"商品B\", \"itemId\": \"B\", \"jg\": 35.5, "
                    "\"num\": 1, \"dian_id\": 1, \"dianming\": \"掌柜一的小店\", \"label\": \"第1名\"}"});
}

TEST_F(CliAnalyze, BadArgumentsAndEngineErrors)
{
    EXPECT_EQ(cli({"rank"}).status, 2);
    EXPECT_EQ(cli({"pie", "--shop", shopId()}).status, 2);
    EXPECT_EQ(cli({"trend", "--shop", shopId(), "--period", "hour"}).status, 2);
    EXPECT_EQ(cli({"rank", "--shop", shopId(), "--top", "51"}).status, 2);
    EXPECT_EQ(cli({"rank", "--shop", shopId(), "--from", "2026-13-01"}).status, 2);
    const QString pair = shopId() + u',' + shopId();
    for (const QStringList& bad :
         {QStringList{"compare", "--shops", shopId(), "--measure", "count"},
          QStringList{"compare", "--shops", shopId() + ",999", "--measure", "count"},
          QStringList{"compare", "--shops", "1,1,1,1,1,1,1,1,1", "--measure", "count"},
          QStringList{"compare", "--shops", "1,x", "--measure", "count"},
          QStringList{"compare", "--shops", pair, "--measure", "weight"},
          QStringList{"compare", "--shops", pair, "--measure", "bad", "--period", "year"},
          QStringList{"market", "--top", "0"}, QStringList{"market", "--filter", "nosuch = 1"},
          QStringList{"market", "--svg", "m.svg"}}) {
        const Run r = cli(bad);
        EXPECT_EQ(r.status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.lines.isEmpty());
        EXPECT_FALSE(r.err.isEmpty());
    }
    // A missing table would be mended at open; a missing column is an engine error.
    dm.adoCn.exec("ALTER TABLE pjInfo RENAME COLUMN jg TO jgGone");
    const Run r = cli({"dist", "--shop", shopId()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("no such column: jg")) << r.err.toStdString();
}

// A shop that is not stored and a range that ends before it begins are usage errors, named;
// before, both printed nothing with status 0, like a shop without sales.
TEST_F(CliAnalyze, AnUnknownShopAndAnEndBeforeTheBeginAreNamed)
{
    Run r = cli({"rank", "--shop", "999", "--from", "2026-01-01", "--to", "2026-12-31"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.lines.isEmpty());
    EXPECT_TRUE(r.err.contains("kestrova-cli analyze: no shop with id 999")) << r.err.toStdString();

    for (const char* kind : {"rank", "trend", "dist"}) {
        r = cli({kind, "--shop", shopId(), "--from", "2026-05-01", "--to", "2026-04-30"});
        EXPECT_EQ(r.status, 2) << kind;
        EXPECT_TRUE(r.lines.isEmpty()) << kind;
        EXPECT_TRUE(r.err.contains("the end date 2026-04-30 is before the begin date 2026-05-01"))
            << r.err.toStdString();
    }
    // One day is a range.
    r = cli({"trend", "--shop", shopId(), "--from", "2026-03-02", "--to", "2026-03-02"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
}

// A range without ratings prints no rows and says where the shop's ratings lie instead, so an
// empty answer is not taken for a broken command; it is no error.
TEST_F(CliAnalyze, ARangeWithoutRatingsSaysWhereTheShopsRatingsLie)
{
    const qlonglong empty = addShop("掌柜二", "http://127.0.0.1:8631/shop/2");
    const struct
    {
        const char* kind;
        QString shop;
        const char* said;
    } cases[] = {
        {"rank", shopId(), "the shop's ratings run from 2026-03-01 13:10:00 to 2026-06-02 21:10:00"},
        {"trend", shopId(), "the shop's ratings run from 2026-03-01 13:10:00 to 2026-06-02 21:10:00"},
        {"dist", shopId(), "the shop's ratings run from 2026-03-01 13:10:00 to 2026-06-02 21:10:00"},
        {"rank", QString::number(empty), "the shop has no ratings"},
    };
    for (const auto& c : cases) {
        const Run r = cli({c.kind, "--shop", c.shop, "--from", "2025-01-01", "--to", "2025-12-31"});
        EXPECT_EQ(r.status, 0) << c.kind;
        EXPECT_TRUE(r.lines.isEmpty()) << c.kind;
        EXPECT_TRUE(r.err.contains(QStringLiteral("no ratings from 2025-01-01 to 2025-12-31; ") + c.said))
            << c.kind << ": " << r.err.toStdString();
    }
    EXPECT_FALSE(cli({"rank", "--shop", shopId(), "--from", "2026-01-01"}).err.contains("no ratings"));
}

TEST_F(CliAnalyze, APictureThatCannotBeWrittenIsNamedWithItsCauseAndLeavesNoPart)
{
    const QStringList range{"--shop", shopId(), "--from", "2026-01-01", "--to", "2026-12-31"};
    for (const char* option : {"--png", "--svg"}) {
        const Run r = cli(QStringList{"dist"} + range + QStringList{option, "/dev/full"});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_TRUE(r.err.contains("kestrova-cli analyze: cannot write /dev/full: No space left on device"))
            << option << ": " << r.err.toStdString();
    }
    Run r = cli(QStringList{"dist"} + range + QStringList{"--png", picture("no/such/folder/d.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("cannot write " + picture("no/such/folder/d.png") + ": "))
        << r.err.toStdString();

    // A limit on the size of files a process may write stops the writing halfway, as a full disk
    // does: the picture there before stays whole, a new one is not left cut, and no temporary
    // file is left behind.
    // The limit (56 KiB) lets the database's own files be read; the drawing of two charts in
    // SVG is larger.
    {
        QFile old(picture("old.svg"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the picture before");
    }
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    for (const QString& file : {picture("old.svg"), picture("new.svg")}) {
        QProcess p;
        p.start("bash", QStringList{"-c", "trap '' XFSZ; ulimit -f 56; exec \"$0\" \"$@\"",
                                    KESTROVA_BIN_DIR "/kestrova-cli", "--data-dir", m_dir.path(), "analyze",
                                    "trend"} +
                            range + QStringList{"--period", "day", "--svg", file});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains("cannot write " + file + ": File too large")) << err.toStdString();
    }
    QFile old(picture("old.svg"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "the picture before");
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), before);
}

} // namespace
