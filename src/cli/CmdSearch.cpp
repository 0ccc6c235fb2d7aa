#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/CliRunner.h"
#include "cli/MineAddresses.h"
#include "cli/MineStored.h"
#include "store/ShopRecords.h"

#include <cstdio>

namespace {

// Options shared by search and mine; false with a message for anything else.
struct Options
{
    SearchCriteria criteria;
    bool mine = false;
    bool enqueue = false;
    bool newOnly = false;
    QString miningOnly; // the first option given that means something only when mining
    int from = 1;
    int to = 5000;
    QStringList urls;
    QString problem; // why the arguments were refused
};

bool number(const QString& text, int low, int high, int& out)
{
    bool ok = false;
    out = text.toInt(&ok);
    return ok && out >= low && out <= high;
}

// A known option without its value, an option that does not exist or a stray argument,
// named in the refusal.
QString refusal(const QString& option)
{
    static const QStringList valued{"--shopname", "--sellername", "--keybiz", "--loc", "--category",
                                    "--levels",   "--count",      "--from",   "--to"};
    if (!option.startsWith(QLatin1String("--")))
        return QStringLiteral("unexpected argument %1").arg(option);
    return valued.contains(option) ? QStringLiteral("%1 needs a value").arg(option)
                                   : QStringLiteral("unknown option %1").arg(option);
}

// A text of blanks on a command line is a slip (an empty variable in quotes), not a search
// term: it counts as not given, as an empty text does.
QString typed(const QString& text)
{
    return text.trimmed().isEmpty() ? QString() : text;
}

bool parse(const QStringList& args, bool urlsAllowed, Options& o)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto bad = [&] {
            o.problem = QStringLiteral("%1: %2 is not allowed").arg(a, args[i]);
            return false;
        };
        auto value = [&](QString& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--shopname") && value(v))
            o.criteria.shopname = typed(v);
        else if (a == QLatin1String("--sellername") && value(v))
            o.criteria.sellername = typed(v);
        else if (a == QLatin1String("--keybiz") && value(v))
            o.criteria.keybiz = typed(v);
        else if (a == QLatin1String("--loc") && value(v))
            o.criteria.loc = typed(v);
        else if (a == QLatin1String("--category") && value(v)) {
            if (!number(v, 0, static_cast<int>(SearchCriteria::categories().size()) - 1, o.criteria.category))
                return bad();
        } else if (a == QLatin1String("--levels") && value(v)) {
            // Every piece must be a level: "1,,3" is a typing slip, not levels 1 and 3.
            for (const QString& piece : v.split(u',')) {
                int level = 0;
                if (!number(piece.trimmed(), 1, SearchCriteria::kLevels, level))
                    return bad();
                o.criteria.levels[level - 1] = true;
            }
        } else if (a == QLatin1String("--count") && value(v)) {
            if (!number(v, 0, 1000000, o.criteria.requested))
                return bad();
        } else if (a == QLatin1String("--from") && value(v)) {
            if (!number(v, 1, 1000000, o.from))
                return bad();
            o.miningOnly = o.miningOnly.isEmpty() ? a : o.miningOnly;
        } else if (a == QLatin1String("--to") && value(v)) {
            if (!number(v, 1, 1000000, o.to))
                return bad();
            o.miningOnly = o.miningOnly.isEmpty() ? a : o.miningOnly;
        } else if (a == QLatin1String("--mine")) {
            o.mine = true;
        } else if (a == QLatin1String("--enqueue") && !urlsAllowed) {
            o.enqueue = true;
        } else if (a == QLatin1String("--new-only")) {
            o.newOnly = true;
            o.miningOnly = o.miningOnly.isEmpty() ? a : o.miningOnly;
        } else if (urlsAllowed && !a.startsWith(QLatin1String("--"))) {
            o.urls << a;
        } else {
            o.problem = refusal(a);
            return false;
        }
    }
    if (o.to < o.from) {
        o.problem = QStringLiteral("--to %1 is below --from %2").arg(o.to).arg(o.from);
        return false;
    }
    return true;
}

std::optional<TConfig> openAll(TDM& dm)
{
    std::optional<TConfig> config = loadCliConfig();
    if (!config || !openCliDatabase(dm, storeroles::Action::Mine))
        return std::nullopt;
    return config;
}

int runSearch(const QStringList& args)
{
    Options o;
    // The rating range and --new-only belong to the mining that --mine adds; without it they
    // would be ignored, and the user would believe they had an effect.
    if (parse(args, false, o) && !o.mine && !o.enqueue && !o.miningOnly.isEmpty())
        o.problem = QStringLiteral("%1 is for mining: give --mine too (or --enqueue)").arg(o.miningOnly);
    if (o.problem.isEmpty() && o.mine && o.enqueue)
        o.problem = QStringLiteral("--mine and --enqueue exclude each other: the queue's workers mine");
    if (!o.problem.isEmpty()) {
        std::fprintf(stderr, "kestrova-cli search: %s\n", qPrintable(o.problem));
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("search"))));
        return 2;
    }
    TDM dm;
    auto config = openAll(dm);
    if (!config)
        return 1;
    CliRunner runner(*config, dm);
    return runner.search(o.criteria, o.mine, o.from, o.to, o.newOnly, o.enqueue);
}

int runMine(const QStringList& args)
{
    if (args.contains(QLatin1String("--stored")))
        return runMineStored(args);
    Options o;
    if (!parse(args, true, o) || o.urls.isEmpty()) {
        std::fprintf(stderr, "kestrova-cli mine: %s\n",
                     qPrintable(o.problem.isEmpty() ? QStringLiteral("no shop address given") : o.problem));
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("mine"))));
        return 2;
    }
    // Bad usage touches nothing: the addresses are checked before the database is opened
    // (which could create or mend the file).
    auto config = loadCliConfig();
    if (!config)
        return 1;
    if (!minableAddresses(o.urls, config->Market().Domain))
        return 2;
    TDM dm;
    if (!openCliDatabase(dm, storeroles::Action::Mine))
        return 1;
    // A shop already stored keeps its texts; a new one is stored with its address alone.
    QList<TMiningRun::Row> rows;
    for (const QString& url : o.urls)
        rows << TMiningRun::Row{true, shoprecords::rowOf(dm.adoCn, url)};
    CliRunner runner(*config, dm);
    return runner.mine(rows, o.from, o.to, o.newOnly);
}

const CliRegistration searchRegistration{
    {QStringLiteral("search"),
     QStringLiteral(
         "search [--shopname T] [--sellername T] [--keybiz T] [--loc T] [--category INDEX] [--levels 1,3] "
         "[--count N] [--mine | --enqueue [--from A] [--to B] [--new-only]]   search the shop directory (and "
         "mine or queue the shops found)"),
     runSearch,
     QStringLiteral(
         "Searches the marketplace's shop directory ([Market] SearchHost of config.ini) and prints\n"
         "one JSON line per shop found; progress goes to standard error. Exit status 1 when a\n"
         "download or the database fails.\n"
         "\n"
         "  --shopname T       shop name contains T (a text of blanks counts as not given)\n"
         "  --sellername T     shopkeeper's member name contains T\n"
         "  --keybiz T         main business contains T\n"
         "  --loc T            location\n"
         "  --category INDEX   goods category by its place in the list, 0 to 49 (default 0: any)\n"
         "  --levels 1,3       seller levels wanted, each from 1 to 15 (default: any)\n"
         "  --count N          shops wanted (default 10; 0: all the directory reports)\n"
         "  --mine             then mine every shop found, as the mine command does\n"
         "  --enqueue          instead of mining, put every shop found on the queue with the\n"
         "                     options below, for \"kestrova-cli work\"\n"
         "  --from A           with --mine or --enqueue: the rating walk of each shop starts\n"
         "                     at rating page ceil(A / 40), pages of 40 ratings counted from 1\n"
         "                     (default 1)\n"
         "  --to B             with --mine or --enqueue: the walk ends after page ceil(B / 40),\n"
         "                     or the shop's last page if that comes first (default 5000); B not\n"
         "                     below A. Whole pages are kept: ratings before A or after B on\n"
         "                     them are stored too\n"
         "  --new-only         with --mine or --enqueue: a stored shop's rating walk stops after\n"
         "                     the first page whose ratings are all stored already\n"
         "  --help             show this text")}};
const CliRegistration mineRegistration{
    {QStringLiteral("mine"),
     QStringLiteral(
         "mine [--from A] [--to B] [--new-only] URL... | mine --stored [--filter TEXT] [--from A] [--to B] "
         "[--new-only]   mine the given "
         "shop addresses, or the stored shops"),
     runMine,
     QStringLiteral(
         "Stores each shop, reads its shop page and rating pages and saves its profile and ratings\n"
         "in the database; prints one JSON line per shop saved. Every URL must be an http:// or\n"
         "https:// address whose host is the [Market] Domain of config.ini or a name under it;\n"
         "otherwise each bad one is named on standard error, nothing is stored or fetched and\n"
         "the exit status is 2. Exit status 1 when a download or the database fails.\n"
         "\n"
         "  --from A   the rating walk of each shop starts at rating page ceil(A / 40), pages of\n"
         "             40 ratings counted from 1 (default 1)\n"
         "  --to B     the walk ends after page ceil(B / 40), or the shop's last page if that\n"
         "             comes first (default 5000); B not below A. Whole pages are kept: ratings\n"
         "             before A or after B on them are stored too\n"
         "  --new-only for a shop already stored, stop the rating walk after the first page whose\n"
         "             ratings are all stored already\n"
         "  --stored   instead of addresses, mine every stored shop as one recorded run\n"
         "  --filter TEXT  with --stored: only the shops this filter selects, in the forms of\n"
         "             \"export shops --filter\"\n"
         "  --help     show this text")}};

} // namespace
