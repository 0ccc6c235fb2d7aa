// Shopkeeper browser figures over a database of 1,000,000 ratings in 10 shops (the measured
// shop holds 100,000): the trade tab shown, filtered by a price range and sorted by price,
// each beside the sqlite3 shell running the same SELECT to its last row; scrolling the tab
// from the first row to the last; all 1,000,000 ratings exported to CSV (beside sqlite3 -csv)
// and to a spreadsheet (rows per second, and the time and peak memory of kestrova-cli doing it).
//
// The database is built once in $TMPDIR/kestrova-browser-bench and reused. Run by hand:
//   build/bin/browser_bench
#include "app/TfrmMain.h"
#include "browser/TExportJob.h"
#include "browser/views/TfrmViewUser.h"
#include "settings/Paths.h"
#include "store/TConnection.h"
#include "store/TDM.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <ctime>
#include <random>
#include <sqlite3.h>
#include <sys/resource.h>

namespace {

constexpr int kShops = 10;
constexpr int kBigShop = 1;
constexpr int kBigShopRatings = 100000;
constexpr int kTotalRatings = 1000000;
constexpr int kRuns = 5;
const char kPriceLow[] = "500";
const char kPriceHigh[] = "1500";

QString benchDir()
{
    return QDir::tempPath() + QStringLiteral("/kestrova-browser-bench");
}

QString dataDir()
{
    return benchDir() + QStringLiteral("/data");
}

QString dbPath()
{
    return dataDir() + QStringLiteral("/quelmar2.mdb");
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Ratings per shop: the measured shop 100,000, the other nine 60,000 to 140,000.
int ratingsOf(int shop)
{
    return shop == kBigShop ? kBigShopRatings : 60000 + (shop - 2) * 10000;
}

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Shops are mined in turns, so one shop's ratings lie scattered over the table.
void buildDatabase()
{
    {
        TConnection probe;
        if (QFile::exists(dbPath()) && probe.open(dbPath())) {
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(probe.handle(), "SELECT count(*) FROM pjInfo", -1, &st, nullptr);
            const bool ready = sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == kTotalRatings;
            sqlite3_finalize(st);
            if (ready)
                return;
        }
    }
    QDir(benchDir()).removeRecursively();
    QDir().mkpath(dataDir());
    TConnection connection;
    if (!connection.open(dbPath()))
        qFatal("cannot create %s", qPrintable(dbPath()));
    sqlite3* db = connection.handle();
    exec(db, "BEGIN");
    sqlite3_stmt* shop = nullptr;
    sqlite3_prepare_v2(
        db,
        "INSERT INTO dianBase(dianzhu,dianming,addr,webaddr,updateDate,buylevel,salelevel,loc,"
        "commodityKind,commodityNum) VALUES(?,?,?,?,'2026-12-01 09:30:00',?,?,'女装','服饰',?)",
        -1, &shop, nullptr);
    for (int s = 1; s <= kShops; ++s) {
        const QByteArray keeper = QStringLiteral("掌柜%1号").arg(s).toUtf8();
        const QByteArray name = QStringLiteral("第%1家小店").arg(s).toUtf8();
        const QByteArray addr = QStringLiteral("浙江 杭州").toUtf8();
        const QByteArray web =
            QStringLiteral("http://127.0.0.1:8631/shop/view_shop-%1.htm").arg(1000 + s).toUtf8();
        sqlite3_bind_text(shop, 1, keeper.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(shop, 2, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(shop, 3, addr.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(shop, 4, web.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(shop, 5, s % 16);
        sqlite3_bind_int(shop, 6, (s * 3) % 16);
        sqlite3_bind_int(shop, 7, 100 * s);
        sqlite3_step(shop);
        sqlite3_reset(shop);
    }
    sqlite3_finalize(shop);

    sqlite3_stmt* rating = nullptr;
    sqlite3_prepare_v2(
        db,
        "INSERT INTO pjInfo(dian_id,pj,buyerOrSaler,pjName,itemId,itemTitle,pjsj,jg,pjInfo,pjjs,"
        "trade_id,itemId_pjsj) VALUES(?,?,?,?,?,?,?,?,?,?,?,?)",
        -1, &rating, nullptr);
    std::mt19937 random(20261208);
    const QString words[] = {QStringLiteral("好评"), QStringLiteral("中评"), QStringLiteral("坏评")};
    std::vector<int> left(kShops + 1);
    for (int s = 1; s <= kShops; ++s)
        left[s] = ratingsOf(s);
    int written = 0;
    while (written < kTotalRatings) {
        for (int s = 1; s <= kShops; ++s) {
            for (int n = 0; n < 1000 && left[s] > 0; ++n, --left[s], ++written) {
                const int item = 100000 + static_cast<int>(random() % 5000);
                const QString when = QStringLiteral("%1-%2-%3 %4:%5:%6")
                                         .arg(2025 + static_cast<int>(random() % 2))
                                         .arg(1 + random() % 12, 2, 10, QLatin1Char('0'))
                                         .arg(1 + random() % 28, 2, 10, QLatin1Char('0'))
                                         .arg(random() % 24, 2, 10, QLatin1Char('0'))
                                         .arg(random() % 60, 2, 10, QLatin1Char('0'))
                                         .arg(random() % 60, 2, 10, QLatin1Char('0'));
                const QByteArray pj = words[random() % 10 == 0 ? 1 + random() % 2 : 0].toUtf8();
                const QByteArray rater = QStringLiteral("买家%1").arg(random() % 50000).toUtf8();
                const QByteArray itemId = QByteArray::number(item);
                const QByteArray title =
                    QStringLiteral("2026春季新款纯棉修身长袖衬衫 男士商务休闲 %1号").arg(item).toUtf8();
                const QByteArray comment =
                    QStringLiteral("质量很好，发货很快，和描述一致，包装也很仔细，下次还会再来，好评！%1")
                        .arg(written)
                        .toUtf8();
                const QByteArray explanation =
                    random() % 5 == 0 ? QStringLiteral("谢谢亲的支持").toUtf8() : "";
                const QByteArray stamp = itemId + when.toUtf8();
                const QByteArray whenUtf8 = when.toUtf8();
                const QByteArray trade = QByteArray::number(9000000000LL + written);
                sqlite3_bind_int(rating, 1, s);
                sqlite3_bind_text(rating, 2, pj.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(rating, 3, random() % 3 != 0);
                sqlite3_bind_text(rating, 4, rater.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(rating, 5, itemId.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(rating, 6, title.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(rating, 7, whenUtf8.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_double(rating, 8, (1 + random() % 200000) / 100.0);
                sqlite3_bind_text(rating, 9, comment.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(rating, 10, explanation.constData(), -1, SQLITE_TRANSIENT);
                if (random() % 10 == 0)
                    sqlite3_bind_null(rating, 11);
                else
                    sqlite3_bind_text(rating, 11, trade.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(rating, 12, stamp.constData(), -1, SQLITE_TRANSIENT);
                sqlite3_step(rating);
                sqlite3_reset(rating);
            }
        }
    }
    sqlite3_finalize(rating);
    exec(db, "COMMIT");
    exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
}

QApplication& app()
{
    static int argc = 1;
    static char name[] = "browser_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// The main window over the bench database with the browser shown, kept for all benchmarks.
struct Window
{
    TfrmMain main;
    TfrmViewUser* view = nullptr;
    double createMs = 0;

    Window()
    {
        Paths::setDataDir(dataDir());
        if (!main.FormCreate())
            qFatal("start-up failed");
        main.resize(1200, 800);
        main.show();
        QElapsedTimer t;
        t.start();
        main.showView(ViewId::Browser);
        view = main.findChild<TfrmViewUser*>(QStringLiteral("frmViewUser"));
        createMs = t.nsecsElapsed() / 1e6;
        QApplication::processEvents();
    }

    template <typename T> T* find(const char* name) { return view->findChild<T*>(QLatin1String(name)); }
    QTableView* ratingGrid() { return find<QTableView>("userDetailGrid"); }

    // Paints the grid now, as the window would at its next frame.
    void paint() { ratingGrid()->viewport()->repaint(); }

    void selectBigShop()
    {
        find<QTabWidget>("bsSkinPageControl1")->setCurrentIndex(0);
        TTable* shops = main.dm().tb_dianbase;
        shops->SetSort(QString());
        for (shops->First(); !shops->Eof(); shops->Next())
            if (shops->FieldByName(QStringLiteral("id")).asInteger() == kBigShop)
                break;
        find<QLineEdit>("jg1")->setText(QStringLiteral("0"));
        find<QLineEdit>("jg2")->setText(QStringLiteral("0"));
    }
};

Window& window()
{
    app();
    buildDatabase();
    static Window* w = new Window;
    return *w;
}

double msOf(const std::function<void()>& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

// The sqlite3 shell running sql over the bench database, output to a file.
double sqlite3Ms(const QStringList& options, const QString& sql,
                 const QString& out = QStringLiteral("/dev/null"))
{
    QProcess p;
    p.setStandardOutputFile(out);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("sqlite3"), options + QStringList{dbPath(), sql});
    p.waitForFinished(-1);
    return t.nsecsElapsed() / 1e6;
}

const QString kShopWhere = QStringLiteral("dian_id = %1").arg(kBigShop);
const QString kPriceWhere =
    kShopWhere + QStringLiteral(" AND jg >= %1 AND jg <= %2").arg(kPriceLow, kPriceHigh);

void BM_TradeTab(benchmark::State& state)
{
    Window& w = window();
    std::vector<double> show, filter, sort, sqlShow, sqlFilter, sqlSort;
    int rows = 0, filtered = 0;
    for (auto _ : state) {
        for (int run = 0; run < kRuns; ++run) {
            w.selectBigShop();
            // Clean titles and no sort: each run starts from the shown tab.
            w.main.dm().tb_pjinfo->SetSort(QString());
            show.push_back(msOf([&] {
                w.find<QTabWidget>("bsSkinPageControl1")->setCurrentIndex(1);
                w.paint();
            }));
            rows = w.main.dm().tb_pjinfo->RecordCount();
            w.find<QLineEdit>("jg1")->setText(QLatin1String(kPriceLow));
            w.find<QLineEdit>("jg2")->setText(QLatin1String(kPriceHigh));
            filter.push_back(msOf([&] {
                w.view->search1Click();
                w.paint();
            }));
            filtered = w.main.dm().tb_pjinfo->RecordCount();
            const int jg = 3;
            sort.push_back(msOf([&] {
                w.view->userDetailGridTitleClick(jg);
                w.paint();
            }));
            sqlShow.push_back(sqlite3Ms({}, QStringLiteral("SELECT * FROM pjInfo WHERE %1").arg(kShopWhere)));
            sqlFilter.push_back(
                sqlite3Ms({}, QStringLiteral("SELECT * FROM pjInfo WHERE %1").arg(kPriceWhere)));
            sqlSort.push_back(sqlite3Ms(
                {}, QStringLiteral("SELECT * FROM pjInfo WHERE %1 ORDER BY jg DESC").arg(kPriceWhere)));
        }
    }
    state.counters["create_ms"] = w.createMs;
    state.counters["rows"] = rows;
    state.counters["filtered_rows"] = filtered;
    state.counters["show_ms"] = median(show);
    state.counters["filter_ms"] = median(filter);
    state.counters["sort_ms"] = median(sort);
    state.counters["sqlite3_show_ms"] = median(sqlShow);
    state.counters["sqlite3_filter_ms"] = median(sqlFilter);
    state.counters["sqlite3_sort_ms"] = median(sqlSort);
    state.counters["show_ratio"] = median(show) / median(sqlShow);
    state.counters["filter_ratio"] = median(filter) / median(sqlFilter);
    state.counters["sort_ratio"] = median(sort) / median(sqlSort);
}
BENCHMARK(BM_TradeTab)->Iterations(1)->Unit(benchmark::kMillisecond);

// CPU time of this thread: on a shared machine a step's wall time also counts the time other
// processes held the core.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void BM_ScrollTradeTab(benchmark::State& state)
{
    Window& w = window();
    std::vector<double> steps, cpu;
    for (auto _ : state) {
        w.selectBigShop();
        w.find<QTabWidget>("bsSkinPageControl1")->setCurrentIndex(1);
        w.view->viewRefresh1Click();
        QScrollBar* bar = w.ratingGrid()->verticalScrollBar();
        bar->setValue(0);
        w.paint();
        while (bar->value() < bar->maximum()) {
            const double before = threadCpuMs();
            steps.push_back(msOf([&] {
                bar->setValue(bar->value() + bar->pageStep());
                w.paint();
            }));
            cpu.push_back(threadCpuMs() - before);
        }
        // And back to the top in one jump.
        steps.push_back(msOf([&] {
            bar->setValue(0);
            w.paint();
        }));
    }
    if (qEnvironmentVariableIsSet("BROWSER_BENCH_STEPS"))
        for (size_t i = 0; i < steps.size(); ++i)
            if (steps[i] > 15)
                fprintf(stderr, "step %zu: %.1f ms (cpu %.1f ms)\n", i, steps[i],
                        i < cpu.size() ? cpu[i] : 0.0);
    state.counters["steps"] = static_cast<double>(steps.size());
    state.counters["step_median_ms"] = median(steps);
    state.counters["step_max_ms"] = *std::max_element(steps.begin(), steps.end());
    state.counters["step_cpu_median_ms"] = median(cpu);
    state.counters["step_cpu_max_ms"] = *std::max_element(cpu.begin(), cpu.end());
}
BENCHMARK(BM_ScrollTradeTab)->Iterations(1)->Unit(benchmark::kMillisecond);

// Every rating of the table (1,000,000), in id order, as the trade tab over all shops lists
// them: what the exports below write.
std::vector<qlonglong> allIds()
{
    window();
    std::vector<qlonglong> ids;
    sqlite3* db = nullptr;
    sqlite3_open_v2(qPrintable(dbPath()), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM pjInfo ORDER BY id", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return ids;
}

void BM_ExportCsv(benchmark::State& state)
{
    const std::vector<qlonglong> ids = allIds();
    const QString out = benchDir() + QStringLiteral("/ratings.csv");
    std::vector<double> ours, shell;
    for (auto _ : state) {
        for (int run = 0; run < 3; ++run) {
            TExportJob::Request request;
            request.kind = exportlayout::Kind::Ratings;
            request.format = TExportJob::Format::Csv;
            request.databasePath = dbPath();
            request.ids = ids;
            request.target = out;
            request.snapHost = QStringLiteral("http://127.0.0.1:8631");
            ours.push_back(msOf([&] {
                if (!TExportJob::run(request).ok)
                    qFatal("export failed");
            }));
            shell.push_back(
                sqlite3Ms({QStringLiteral("-csv")},
                          QStringLiteral("SELECT pj,pjName,buyerOrSaler,jg,pjsj,itemTitle,pjInfo,pjjs,"
                                         "trade_id,itemId FROM pjInfo ORDER BY id"),
                          benchDir() + QStringLiteral("/shell.csv")));
        }
    }
    state.counters["rows"] = static_cast<double>(ids.size());
    state.counters["csv_ms"] = median(ours);
    state.counters["sqlite3_csv_ms"] = median(shell);
    state.counters["csv_ratio"] = median(ours) / median(shell);
}
BENCHMARK(BM_ExportCsv)->Iterations(1)->Unit(benchmark::kMillisecond);

// The high-water mark of a running process's own memory, in MB (0 once it has ended).
double peakMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// kestrova-cli writing the spreadsheet: wall time and its peak resident memory, read from the
// process itself (a child's rusage would count the memory of this process it was forked from).
void BM_ExportXlsx(benchmark::State& state)
{
    window();
    std::vector<double> ms, mb;
    for (auto _ : state) {
        for (int run = 0; run < 3; ++run) {
            QProcess p;
            p.setStandardOutputFile(QProcess::nullDevice());
            QElapsedTimer t;
            t.start();
            p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"),
                    {QStringLiteral("--data-dir"), dataDir(), QStringLiteral("export"),
                     QStringLiteral("ratings"), QStringLiteral("--xlsx"),
                     benchDir() + QStringLiteral("/ratings.xlsx")});
            p.waitForStarted();
            double peak = 0;
            while (!p.waitForFinished(5))
                peak = std::max(peak, peakMb(p.processId()));
            ms.push_back(t.nsecsElapsed() / 1e6);
            mb.push_back(peak);
            if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
                qFatal("kestrova-cli export failed");
        }
    }
    state.counters["xlsx_ms"] = median(ms);
    state.counters["rows_per_s"] = kTotalRatings / (median(ms) / 1000);
    state.counters["xlsx_peak_mb"] = *std::max_element(mb.begin(), mb.end());
}
BENCHMARK(BM_ExportXlsx)->Iterations(1)->Unit(benchmark::kMillisecond);

// The spreadsheet export itself, in this process: rows per second of the writing alone.
void BM_ExportXlsxRows(benchmark::State& state)
{
    const std::vector<qlonglong> ids = allIds();
    std::vector<double> ours;
    int sheets = 0;
    for (auto _ : state) {
        for (int run = 0; run < 3; ++run) {
            TExportJob::Request request;
            request.kind = exportlayout::Kind::Ratings;
            request.format = TExportJob::Format::Xlsx;
            request.databasePath = dbPath();
            request.ids = ids;
            request.target = benchDir() + QStringLiteral("/ratings.xlsx");
            request.snapHost = QStringLiteral("http://127.0.0.1:8631");
            ours.push_back(msOf([&] {
                const TExportJob::Result r = TExportJob::run(request);
                if (!r.ok)
                    qFatal("export failed");
                sheets = r.sheets;
            }));
        }
    }
    state.counters["rows"] = static_cast<double>(ids.size());
    state.counters["xlsx_ms"] = median(ours);
    state.counters["rows_per_s"] = static_cast<double>(ids.size()) / (median(ours) / 1000);
    state.counters["sheets"] = sheets;
}
BENCHMARK(BM_ExportXlsxRows)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
