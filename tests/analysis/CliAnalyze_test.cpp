// kestrova-cli analyze: the views' statements and labels as JSON lines, and the charts drawn
// offscreen into pictures.
#include "cli/CliProcess.h"
#include "store/StoreFixture.h"

#include <QFile>
#include <QImage>
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

TEST_F(CliAnalyze, BadArgumentsAndEngineErrors)
{
    EXPECT_EQ(cli({"rank"}).status, 2);
    EXPECT_EQ(cli({"pie", "--shop", shopId()}).status, 2);
    EXPECT_EQ(cli({"trend", "--shop", shopId(), "--period", "hour"}).status, 2);
    EXPECT_EQ(cli({"rank", "--shop", shopId(), "--top", "51"}).status, 2);
    EXPECT_EQ(cli({"rank", "--shop", shopId(), "--from", "2026-13-01"}).status, 2);
    // A missing table would be mended at open; a missing column is an engine error.
    dm.adoCn.exec("ALTER TABLE pjInfo RENAME COLUMN jg TO jgGone");
    const Run r = cli({"dist", "--shop", shopId()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains("no such column: jg")) << r.err.toStdString();
}

} // namespace
