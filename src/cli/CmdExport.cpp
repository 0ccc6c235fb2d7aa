#include "browser/BrowserTexts.h"
#include "browser/TExportJob.h"
#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "cli/JsonOut.h"
#include "store/TDM.h"

#include <cstdio>

namespace {

struct Options
{
    exportlayout::Kind kind = exportlayout::Kind::Shops;
    std::optional<qlonglong> shop;
    QString filter;
    QString sort;
    std::optional<TExportJob::Format> format;
    QString file;
};

// False with the reason in problem, naming the argument that is wrong.
bool parse(const QStringList& args, Options& o, QString& problem)
{
    if (args.isEmpty()) {
        problem = QStringLiteral("shops or ratings is required");
        return false;
    }
    if (args[0] == QLatin1String("shops")) {
        o.kind = exportlayout::Kind::Shops;
    } else if (args[0] == QLatin1String("ratings")) {
        o.kind = exportlayout::Kind::Ratings;
    } else {
        problem = args[0].startsWith(QLatin1String("--"))
                      ? QStringLiteral("unknown option %1").arg(args[0])
                      : QStringLiteral("%1 is neither shops nor ratings").arg(args[0]);
        return false;
    }
    static const QStringList known{"--shop", "--filter", "--sort", "--csv", "--xlsx"};
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!known.contains(a)) {
            problem = a.startsWith(QLatin1String("--")) ? QStringLiteral("unknown option %1").arg(a)
                                                        : QStringLiteral("unexpected argument %1").arg(a);
            return false;
        }
        if (i + 1 >= args.size()) {
            problem = QStringLiteral("%1 needs a value").arg(a);
            return false;
        }
        const QString v = args[++i];
        if (a == QLatin1String("--shop")) {
            bool ok = false;
            o.shop = v.toLongLong(&ok);
            if (!ok) {
                problem = QStringLiteral("--shop: %1 is not a number").arg(v);
                return false;
            }
        } else if (a == QLatin1String("--filter")) {
            o.filter = v;
        } else if (a == QLatin1String("--sort")) {
            o.sort = v;
        } else if (!o.format) {
            o.format = a == QLatin1String("--csv") ? TExportJob::Format::Csv : TExportJob::Format::Xlsx;
            o.file = v;
        } else {
            problem = QStringLiteral("%1: only one of --csv and --xlsx").arg(a);
            return false;
        }
    }
    if (!o.format.has_value() || o.file.isEmpty()) {
        problem = QStringLiteral("--csv FILE or --xlsx FILE is required");
        return false;
    }
    return true;
}

int runExport(const QStringList& args)
{
    Options o;
    QString problem;
    if (!parse(args, o, problem)) {
        std::fprintf(stderr, "kestrova-cli export: %s\n", problem.toLocal8Bit().constData());
        std::fprintf(stderr, "%s\n", qPrintable(cliUsage(QStringLiteral("export"))));
        return 2;
    }
    const std::optional<TConfig> config = loadCliConfig();
    TDM dm;
    if (!config || !openCliDatabase(dm))
        return 1;

    // This process only reads the row ids here; the rows are read by the export's own
    // connection, so the file need not be mapped into memory.
    if (!dm.adoCn.tuneFor(TConnection::Use::OnePass)) {
        std::fprintf(stderr, "database error: %s\n", dm.adoCn.error().toLocal8Bit().constData());
        return 1;
    }

    // The same texts the browser builds: the shop narrows the ratings, the filter follows.
    const bool shops = o.kind == exportlayout::Kind::Shops;
    TTable* cursor = shops ? dm.tb_dianbase : dm.tb_pjinfo;
    QString filter = o.filter;
    if (o.shop) {
        const QString byShop =
            shops ? QStringLiteral("id =") + QString::number(*o.shop) : browsertexts::tradeFilter(*o.shop);
        filter = filter.isEmpty() ? byShop : byShop + QStringLiteral(" and ") + filter;
    }
    // A filter that is not understood is bad usage, as in "shops" and "mine --stored".
    if (!cliFilterUnderstood(*cursor, filter))
        return 2;
    if (!cursor->SetFilter(filter) || !cursor->SetFiltered(true) || !cursor->SetSort(o.sort) ||
        !cursor->Open()) {
        std::fprintf(stderr, "%s\n", cursor->lastError().toLocal8Bit().constData());
        return 1;
    }
    const QString blocked = TExportJob::blockedTarget(o.file, *o.format);
    if (!blocked.isEmpty()) {
        std::fprintf(stderr, "%s\n", blocked.toLocal8Bit().constData());
        return 1;
    }

    TExportJob::Request request;
    request.kind = o.kind;
    request.format = *o.format;
    request.databasePath = dm.adoCn.path();
    request.ids = cursor->Keys();
    request.target = o.file;
    request.snapHost = config->Market().SnapHost;
    const TExportJob::Result result = TExportJob::run(request);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", result.error.toLocal8Bit().constData());
        return 1;
    }
    // A spreadsheet says how many worksheets its rows took.
    const QString sheets = request.format == TExportJob::Format::Xlsx
                               ? QStringLiteral(", \"sheets\": %1").arg(result.sheets)
                               : QString();
    std::printf("{\"rows\": %lld%s, \"file\": %s}\n", static_cast<long long>(result.rows),
                sheets.toUtf8().constData(), jsonout::string(o.file).toUtf8().constData());
    return 0;
}

const CliRegistration registration{
    {QStringLiteral("export"),
     QStringLiteral(
         "export shops|ratings [--shop ID] [--filter TEXT] [--sort TEXT] (--csv FILE | --xlsx FILE)"
         "   write stored shops or ratings to a file"),
     runExport,
     QStringLiteral(
         "shops|ratings    what to write: the shop list or the ratings\n"
         "--shop ID        only this shop (shops) or this shop's ratings (ratings)\n"
         "--filter TEXT    a filter as the browser builds it, conditions joined by \" and \":\n"
         "                 col like %text%, col = 'text', col = N, col > N, col >= N, col <= N,\n"
         "                 buyerOrSaler = true|false; e.g. \"pjName like %abc% and jg >=100\"\n"
         "--sort TEXT      a column for ascending order, or \"col DESC \" for descending\n"
         "--csv FILE       write a CSV file (GBK, CRLF lines, the browser's header line); in every\n"
         "                 field blanks are removed and each comma becomes \"、\"\n"
         "--xlsx FILE      write a spreadsheet file (Office Open XML); more rows than one sheet\n"
         "                 holds (1,048,575 under its header) go on in further sheets, each\n"
         "                 with the header row; the JSON line gives \"sheets\"\n"
         "The file is written beside its target and replaces it only when complete.")}};

} // namespace
