// kestrova-cli parse: runs the page parsers over saved pages and prints what they read as
// JSON, for checking a page after the marketplace changes its markup.

#include "cli/CliCommand.h"
#include "cli/JsonOut.h"
#include "extract/THTMLExcavate.h"
#include "extract/TSearchUser.h"
#include "settings/Paths.h"
#include "settings/Settings.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;

// A JSON string of a GBK text: converted to UTF-8 (bad bytes become U+FFFD), then escaped.
std::string jsonText(std::string_view gbkText)
{
    return jsonout::string(gbk::toQString(gbkText)).toStdString();
}

// Builds one JSON object line by line of "key": value pairs, in the order given.
class JsonObject
{
public:
    JsonObject& text(const char* key, std::string_view gbkValue) { return raw(key, jsonText(gbkValue)); }
    JsonObject& number(const char* key, int value) { return raw(key, std::to_string(value)); }
    JsonObject& flag(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
    JsonObject& raw(const char* key, const std::string& json)
    {
        m_body += m_body.empty() ? "" : ", ";
        m_body += std::string("\"") + key + "\": " + json;
        return *this;
    }
    std::string str() const { return "{" + m_body + "}"; }

private:
    std::string m_body;
};

void fail(const QString& message)
{
    std::fprintf(stderr, "kestrova-cli parse: %s\n", qPrintable(message));
}

// Reads every file whole; on the first that cannot be read, says so and gives nothing.
std::optional<std::vector<std::string>> readPages(const QStringList& paths)
{
    std::vector<std::string> pages;
    for (const QString& path : paths) {
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read %1: %2")
                     .arg(path,
                          QFileInfo::exists(path) ? file.errorString() : QStringLiteral("no such file")));
            return std::nullopt;
        }
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return std::nullopt;
        }
        pages.emplace_back(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    return pages;
}

// Options with an integer value, then the page files.
struct Arguments
{
    std::vector<std::pair<QString, int>> options;
    QStringList files;
};

std::optional<Arguments> parseArguments(QStringList args, const QStringList& optionNames)
{
    Arguments out;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (!arg.startsWith(QLatin1String("--"))) {
            out.files << arg;
            continue;
        }
        if (!optionNames.contains(arg)) {
            fail(QStringLiteral("unknown option %1").arg(arg));
            return std::nullopt;
        }
        auto value = args.isEmpty() ? std::nullopt : text::toInt(args.takeFirst().toStdString());
        if (!value) {
            fail(QStringLiteral("%1 needs a whole number").arg(arg));
            return std::nullopt;
        }
        out.options.emplace_back(arg, *value);
    }
    return out;
}

int option(const Arguments& a, const char* name, int fallback)
{
    int value = fallback;
    for (const auto& [key, v] : a.options)
        if (key == QLatin1String(name))
            value = v;
    return value;
}

std::optional<MarketSettings> marketSettings()
{
    QString error;
    QString notice;
    auto config = settings::load(Paths::configFile(), &error, &notice);
    if (!config) {
        fail(QStringLiteral("configuration file %1: %2").arg(Paths::configFile(), error));
        return std::nullopt;
    }
    if (!notice.isEmpty())
        fail(notice);
    return config->Market();
}

void write(const std::string& out)
{
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

int runSearch(const QStringList& args)
{
    auto a = parseArguments(args, {QStringLiteral("--limit"), QStringLiteral("--page-size")});
    if (!a)
        return kUsageError;
    if (a->files.isEmpty()) {
        fail(QStringLiteral("search needs at least one page file"));
        return kUsageError;
    }
    const int pageSize = option(*a, "--page-size", 40);
    if (pageSize < 1) {
        fail(QStringLiteral("--page-size must be at least 1"));
        return kUsageError;
    }
    auto pages = readPages(a->files);
    if (!pages)
        return kUsageError;
    auto market = marketSettings();
    if (!market)
        return 1;

    TSearchUser parser(option(*a, "--limit", 10), pageSize, gbk::fromQString(market->HomePage));
    parser.LoadFirstPage(pages->front());
    for (const std::string& page : *pages)
        parser.ProcessPage(page);

    std::string out;
    for (const auto& [key, record] : parser.Shops()) {
        JsonObject line;
        line.text("key", key);
        for (size_t i = 0; i < std::size(jsonout::kShopKeys); ++i)
            line.text(jsonout::kShopKeys[i], i < record.size() ? record[i] : std::string());
        out += line.str() + "\n";
    }
    out += JsonObject()
               .number("TotalFound", parser.TotalFound())
               .number("Limit", parser.Limit())
               .number("ShopCount", parser.ShopCount())
               .number("PagesNeeded", parser.PagesNeeded())
               .number("TotalPages", parser.TotalPages())
               .number("PageNo", parser.PageNo())
               .flag("Ready", parser.Ready())
               .flag("Finished", parser.Finished())
               .str() +
           "\n";
    write(out);
    return 0;
}

int runProfile(const QStringList& args)
{
    auto a = parseArguments(args, {QStringLiteral("--from"), QStringLiteral("--to")});
    if (!a)
        return kUsageError;
    if (a->files.isEmpty()) {
        fail(QStringLiteral("profile needs the shop page file"));
        return kUsageError;
    }
    auto pages = readPages(a->files);
    if (!pages)
        return kUsageError;
    auto market = marketSettings();
    if (!market)
        return 1;

    THTMLExcavate extractor(option(*a, "--from", 1), option(*a, "--to", 5000),
                            gbk::fromQString(market->RatingHost));
    extractor.LoadProfilePage(pages->front());
    for (size_t i = 1; i < pages->size(); ++i)
        extractor.ProcessRatingPage(text::foldAscii((*pages)[i])); // folded as the mining run does

    static const char* const keys[] = {"pj",     "pjsj",         "trade_id", "itemId", "itemTitle",
                                       "pjName", "buyerOrSaler", "jg",       "pjInfo", "pjjs"};
    std::string ratings = "[";
    for (const auto& [key, record] : extractor.Ratings()) {
        JsonObject r;
        r.text("key", key);
        for (size_t i = 0; i < std::size(keys); ++i)
            r.text(keys[i], i < record.size() ? record[i] : std::string());
        ratings += (ratings.size() > 1 ? ", " : "") + r.str();
    }
    ratings += "]";
    const THTMLExcavate& e = extractor;
    write(JsonObject()
              .text("RatingUrlBase", e.RatingUrlBase())
              .text("createDate", e.createDate())
              .number("saleLevel", e.saleLevel())
              .number("buyLevel", e.buyLevel())
              .number("salerCredit", e.salerCredit())
              .number("buyerCredit", e.buyerCredit())
              .number("buyerGood", e.buyerGood())
              .number("buyerNotBad", e.buyerNotBad())
              .number("buyerBad", e.buyerBad())
              .number("salerGood", e.salerGood())
              .number("salerNotBad", e.salerNotBad())
              .number("salerBad", e.salerBad())
              .text("salerGoodRate", e.salerGoodRate())
              .text("buyerGoodRate", e.buyerGoodRate())
              .number("TotalRatings", e.TotalRatings())
              .number("LastPage", e.LastPage())
              .number("PageNo", e.PageNo())
              .number("RatingCount", e.RatingCount())
              .flag("FirstPageDone", e.FirstPageDone())
              .flag("Finished", e.Finished())
              .raw("ratings", ratings)
              .str() +
          "\n");
    return 0;
}

int runParse(const QStringList& args)
{
    const QString what = args.value(0);
    if (what == QLatin1String("search"))
        return runSearch(args.mid(1));
    if (what == QLatin1String("profile"))
        return runProfile(args.mid(1));
    if (what.startsWith(QLatin1String("--")))
        fail(QStringLiteral("unknown option %1").arg(what));
    else
        fail(QStringLiteral("say search or profile"));
    return kUsageError;
}

const CliRegistration registration(
    {QStringLiteral("parse"),
     QStringLiteral("parse search [--limit N] [--page-size S] PAGE... | "
                    "parse profile [--from A] [--to B] SHOPPAGE [RATINGPAGE...]"),
     runParse,
     QStringLiteral("Runs the page parsers over saved pages (GBK, as the marketplace sends them) and\n"
                    "prints what they read as JSON, to check a page after its markup changes.\n"
                    "\n"
                    "parse search PAGE...   result pages in order; one line per shop, then the totals\n"
                    "  --limit N            shops wanted, as the search's count (default 10)\n"
                    "  --page-size S        shops on a full result page (default 40)\n"
                    "parse profile SHOPPAGE [RATINGPAGE...]   the shop page, then its rating pages\n"
                    "  --from A             first rating to keep, counted from 1 (default 1)\n"
                    "  --to B               last rating to keep (default 5000)\n"
                    "  --help               show this text"),
     false, false});

} // namespace
