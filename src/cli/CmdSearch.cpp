#include "app/Paths.h"
#include "app/Settings.h"
#include "cli/CliCommand.h"
#include "cli/CliRunner.h"

#include <QDir>
#include <cstdio>

namespace {

// Options shared by search and mine; false with a message for anything else.
struct Options
{
    SearchCriteria criteria;
    bool mine = false;
    bool newOnly = false;
    int from = 1;
    int to = 5000;
    QStringList urls;
};

bool number(const QString& text, int low, int high, int& out)
{
    bool ok = false;
    out = text.toInt(&ok);
    return ok && out >= low && out <= high;
}

bool parse(const QStringList& args, bool urlsAllowed, Options& o)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--shopname") && value(v))
            o.criteria.shopname = v;
        else if (a == QLatin1String("--sellername") && value(v))
            o.criteria.sellername = v;
        else if (a == QLatin1String("--keybiz") && value(v))
            o.criteria.keybiz = v;
        else if (a == QLatin1String("--loc") && value(v))
            o.criteria.loc = v;
        else if (a == QLatin1String("--category") && value(v)) {
            if (!number(v, 0, static_cast<int>(SearchCriteria::categories().size()) - 1, o.criteria.category))
                return false;
        } else if (a == QLatin1String("--levels") && value(v)) {
            for (const QString& piece : v.split(u',', Qt::SkipEmptyParts)) {
                int level = 0;
                if (!number(piece.trimmed(), 1, SearchCriteria::kLevels, level))
                    return false;
                o.criteria.levels[level - 1] = true;
            }
        } else if (a == QLatin1String("--count") && value(v)) {
            if (!number(v, 0, 1000000, o.criteria.requested))
                return false;
        } else if (a == QLatin1String("--from") && value(v)) {
            if (!number(v, 1, 1000000, o.from))
                return false;
        } else if (a == QLatin1String("--to") && value(v)) {
            if (!number(v, 1, 1000000, o.to))
                return false;
        } else if (a == QLatin1String("--mine")) {
            o.mine = true;
        } else if (a == QLatin1String("--new-only")) {
            o.newOnly = true;
        } else if (urlsAllowed && !a.startsWith(QLatin1String("--"))) {
            o.urls << a;
        } else {
            return false;
        }
    }
    return true;
}

std::optional<TConfig> openAll(TDM& dm)
{
    QDir().mkpath(Paths::dataDir());
    QString error;
    auto config = settings::load(Paths::configFile(), &error);
    if (!config) {
        std::fprintf(stderr, "%s (%s)\n",
                     QString::fromUtf16(settings::kFatalMessage).toLocal8Bit().constData(),
                     error.toLocal8Bit().constData());
        return std::nullopt;
    }
    if (!dm.DataModuleCreate(Paths::databaseFile())) {
        std::fprintf(stderr, "%s\n", dm.OpenError().toLocal8Bit().constData());
        return std::nullopt;
    }
    return config;
}

int runSearch(const QStringList& args)
{
    Options o;
    if (!parse(args, false, o)) {
        std::fprintf(
            stderr,
            "usage: kestrova-cli search [--shopname T] [--sellername T] [--keybiz T] [--loc T] "
            "[--category INDEX] [--levels 1,3] [--count N] [--mine [--from A] [--to B] [--new-only]]\n");
        return 2;
    }
    TDM dm;
    auto config = openAll(dm);
    if (!config)
        return 1;
    CliRunner runner(*config, dm);
    return runner.search(o.criteria, o.mine, o.from, o.to, o.newOnly);
}

int runMine(const QStringList& args)
{
    Options o;
    if (!parse(args, true, o) || o.urls.isEmpty()) {
        std::fprintf(stderr, "usage: kestrova-cli mine [--from A] [--to B] [--new-only] URL...\n");
        return 2;
    }
    TDM dm;
    auto config = openAll(dm);
    if (!config)
        return 1;
    // A shop already stored keeps its texts; a new one is stored with its address alone.
    QList<TMiningRun::Row> rows;
    for (const QString& url : o.urls) {
        QStringList texts{QString(), QString(), QString(), url, QStringLiteral("0"), QString(), QString()};
        dm.adoq1->SetSQL(QStringLiteral("select * from dianbase where webaddr=:webaddr"));
        dm.adoq1->SetParam(QStringLiteral("webaddr"), url);
        if (dm.adoq1->Open() && dm.adoq1->RecordCount() > 0) {
            const char* columns[] = {"dianzhu",      "dianming", "loc",          "webaddr",
                                     "commodityNum", "addr",     "commodityKind"};
            for (int c = 0; c < 7; ++c)
                texts[c] = dm.adoq1->FieldByName(QString::fromLatin1(columns[c])).asString();
            if (texts[4].isEmpty())
                texts[4] = QStringLiteral("0");
        }
        dm.adoq1->Close();
        rows << TMiningRun::Row{true, texts};
    }
    CliRunner runner(*config, dm);
    return runner.mine(rows, o.from, o.to, o.newOnly);
}

const CliRegistration searchRegistration{
    {QStringLiteral("search"),
     QStringLiteral(
         "search [--shopname T] [--sellername T] [--keybiz T] [--loc T] [--category INDEX] [--levels 1,3] "
         "[--count N] [--mine [--from A] [--to B] [--new-only]]   search the shop directory (and mine the "
         "shops found; with --new-only a stored shop's rating walk stops at the first page it already has)"),
     runSearch}};
const CliRegistration mineRegistration{
    {QStringLiteral("mine"),
     QStringLiteral("mine [--from A] [--to B] [--new-only] URL...   mine the given shop addresses (with "
                    "--new-only a stored shop's rating walk stops at the first page it already has)"),
     runMine}};

} // namespace
