// Storing mined shops when the database is read at the same time, killed, full or locked,
// and mining addresses that are not shop pages of the marketplace.
#include "MarketFixture.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <atomic>
#include <csignal>
#include <sqlite3.h>

namespace {

// A file system that reports a full disk on every write while `full` is set: wraps the
// engine's own and becomes the default for connections opened while it is installed.
namespace fullDisk {

std::atomic<bool> full{false};
sqlite3_vfs* real = nullptr;
sqlite3_vfs vfs;
sqlite3_io_methods methods;

struct File
{
    sqlite3_file base;
    sqlite3_file* inner;
};

sqlite3_file* inner(sqlite3_file* f)
{
    return reinterpret_cast<File*>(f)->inner;
}

int xClose(sqlite3_file* f)
{
    return inner(f)->pMethods ? inner(f)->pMethods->xClose(inner(f)) : SQLITE_OK;
}
int xRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o)
{
    return inner(f)->pMethods->xRead(inner(f), b, n, o);
}
int xWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o)
{
    return full ? SQLITE_FULL : inner(f)->pMethods->xWrite(inner(f), b, n, o);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 s)
{
    return inner(f)->pMethods->xTruncate(inner(f), s);
}
int xSync(sqlite3_file* f, int flags)
{
    return inner(f)->pMethods->xSync(inner(f), flags);
}
int xFileSize(sqlite3_file* f, sqlite3_int64* s)
{
    return inner(f)->pMethods->xFileSize(inner(f), s);
}
int xLock(sqlite3_file* f, int l)
{
    return inner(f)->pMethods->xLock(inner(f), l);
}
int xUnlock(sqlite3_file* f, int l)
{
    return inner(f)->pMethods->xUnlock(inner(f), l);
}
int xCheckReservedLock(sqlite3_file* f, int* r)
{
    return inner(f)->pMethods->xCheckReservedLock(inner(f), r);
}
int xFileControl(sqlite3_file* f, int op, void* a)
{
    return inner(f)->pMethods->xFileControl(inner(f), op, a);
}
int xSectorSize(sqlite3_file* f)
{
    return inner(f)->pMethods->xSectorSize(inner(f));
}
int xDeviceCharacteristics(sqlite3_file* f)
{
    return inner(f)->pMethods->xDeviceCharacteristics(inner(f));
}
int xShmMap(sqlite3_file* f, int i, int s, int e, void volatile** p)
{
    return inner(f)->pMethods->xShmMap(inner(f), i, s, e, p);
}
int xShmLock(sqlite3_file* f, int o, int n, int flags)
{
    return inner(f)->pMethods->xShmLock(inner(f), o, n, flags);
}
void xShmBarrier(sqlite3_file* f)
{
    inner(f)->pMethods->xShmBarrier(inner(f));
}
int xShmUnmap(sqlite3_file* f, int d)
{
    return inner(f)->pMethods->xShmUnmap(inner(f), d);
}

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out)
{
    auto* file = reinterpret_cast<File*>(f);
    file->inner = reinterpret_cast<sqlite3_file*>(file + 1);
    file->inner->pMethods = nullptr;
    const int rc = real->xOpen(real, name, file->inner, flags, out);
    file->base.pMethods = file->inner->pMethods ? &methods : nullptr;
    return rc;
}

void install()
{
    real = sqlite3_vfs_find("unix");
    vfs = *real;
    vfs.zName = "full-disk";
    vfs.szOsFile = static_cast<int>(sizeof(File)) + real->szOsFile;
    vfs.xOpen = xOpen;
    vfs.pNext = nullptr;
    // Version 2: the shared memory of the write-ahead log, no memory-mapped pages.
    methods = {2,
               xClose,
               xRead,
               xWrite,
               xTruncate,
               xSync,
               xFileSize,
               xLock,
               xUnlock,
               xCheckReservedLock,
               xFileControl,
               xSectorSize,
               xDeviceCharacteristics,
               xShmMap,
               xShmLock,
               xShmBarrier,
               xShmUnmap,
               nullptr,
               nullptr};
    sqlite3_vfs_register(&vfs, 1);
}

void uninstall()
{
    full = false;
    sqlite3_vfs_unregister(&vfs);
    sqlite3_vfs_register(real, 1);
}

} // namespace fullDisk

class StoreFaults : public MarketFixture
{
protected:
    QString cli() const { return QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"); }

    // A folder of its own with the configuration pointing at the market, no database yet.
    QString freshFolder(QTemporaryDir& dir)
    {
        QFile::copy(m_dir.filePath("config.ini"), dir.filePath("config.ini"));
        return dir.path();
    }

    static qlonglong countIn(TConnection& cn, const QString& sql)
    {
        TQuery q(&cn, "reader");
        q.SetSQL(sql);
        return q.Open() ? q.value(0, 0).toLongLong() : -1;
    }
};

TEST_F(StoreFaults, AnotherReaderNeverSeesARatingTwiceDuringARemine)
{
    startMarket({"--shops", "1", "--ratings", "3000", "--seed", "21"});
    TMiningRun first(dm);
    ASSERT_TRUE(mine(first, rowsFor({0})));
    ASSERT_EQ(count("select count(*) from pjinfo"), 3000);
    const qlonglong idSum = count("select sum(id) from pjinfo");

    // A second connection counts the shop's ratings while the shop is mined again.
    TConnection reader;
    ASSERT_TRUE(reader.open(dm.adoCn.path()));
    qlonglong most = 0;
    int reads = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        most = std::max(most, countIn(reader, "select count(*) from pjinfo"));
        ++reads;
    });
    poll.start(2);
    TMiningRun again(dm);
    ASSERT_TRUE(mine(again, rowsFor({0})));
    poll.stop();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(most, 3000) << "a reader saw the re-mined copies before their removal";
    EXPECT_EQ(count("select count(*) from pjinfo"), 3000);
    EXPECT_EQ(count("select sum(id) from pjinfo"), idSum) << "the first copies survive";
}

TEST_F(StoreFaults, KillingARemineAtAnyMomentNeverLeavesADuplicate)
{
    startMarket({"--shops", "1", "--ratings", "4000", "--seed", "22", "--latency", "10"});
    const QStringList args{"--data-dir", m_dir.path(), "mine", "--to", "4000", shop(0)["address"].toString()};
    QProcess first;
    first.start(cli(), args);
    ASSERT_TRUE(first.waitForFinished(120000));
    ASSERT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    ASSERT_EQ(count("select count(*) from pjinfo"), 4000);

    auto* random = QRandomGenerator::global();
    for (int round = 0; round < 6; ++round) {
        QProcess remine;
        remine.start(cli(), args);
        ASSERT_TRUE(remine.waitForStarted());
        // Most of a re-mine is its download; the kill lands anywhere from the start to the save.
        remine.waitForFinished(static_cast<int>(random->bounded(100, 2500)));
        if (remine.state() == QProcess::Running) {
            ::kill(static_cast<pid_t>(remine.processId()), SIGKILL);
            remine.waitForFinished();
        }
        EXPECT_EQ(count("select count(*) from pjinfo"), 4000) << "round " << round;
        EXPECT_EQ(count("select count(distinct itemId_pjsj) from pjinfo"), 4000) << "round " << round;
    }
}

TEST_F(StoreFaults, TwoProgramsOnAFreshFolderBothWorkAndStoreOneRowPerAddress)
{
    startMarket({"--shops", "1", "--ratings", "200", "--seed", "23"});
    // Creating the file and switching its journal mode: the second program waits.
    for (int pair = 0; pair < 10; ++pair) {
        QTemporaryDir dir;
        const QString folder = freshFolder(dir);
        QProcess a, b;
        a.start(cli(), {"--data-dir", folder, "sql", "select count(*) as n from dianBase"});
        b.start(cli(), {"--data-dir", folder, "sql", "select count(*) as n from pjInfo"});
        ASSERT_TRUE(a.waitForFinished(30000));
        ASSERT_TRUE(b.waitForFinished(30000));
        EXPECT_EQ(a.exitCode(), 0) << "pair " << pair << ": " << a.readAllStandardError().toStdString();
        EXPECT_EQ(b.exitCode(), 0) << "pair " << pair << ": " << b.readAllStandardError().toStdString();
    }
    // Two runs storing the same shop at once.
    QTemporaryDir dir;
    const QString folder = freshFolder(dir);
    const QStringList args{"--data-dir", folder, "mine", shop(0)["address"].toString()};
    QProcess a, b;
    a.start(cli(), args);
    b.start(cli(), args);
    ASSERT_TRUE(a.waitForFinished(60000));
    ASSERT_TRUE(b.waitForFinished(60000));
    EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
    EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
    TConnection cn;
    ASSERT_TRUE(cn.open(dir.filePath("quelmar2.mdb")));
    EXPECT_EQ(countIn(cn, "select count(*) from dianbase"), 1);
    EXPECT_EQ(countIn(cn, "select count(*) from pjinfo"), 200);
    EXPECT_EQ(countIn(cn, "select count(distinct itemId_pjsj) from pjinfo"), 200);
}

TEST_F(StoreFaults, AFullDiskEndsTheRunAtOnceWithTheEnginesMessage)
{
    fullDisk::install();
    startMarket(
        {"--shops", "2", "--ratings", "400", "--seed", "24", "--log", m_dir.filePath("requests.log")});
    TMiningRun run(dm);
    QStringList errors;
    QList<int> savedFailed;
    QObject::connect(&run, &TMiningRun::storeError, &run, [&](const QString& e) { errors << e; });
    QObject::connect(&run, &TMiningRun::shopSaved, &run,
                     [&](const QString&, int, int failed, bool) { savedFailed << failed; });
    // The disk fills up once the first shop's pages are read.
    QObject::connect(&run, &TMiningRun::statusText, &run, [](const QString& t) {
        if (t == QStringLiteral("正在保存数据..."))
            fullDisk::full = true;
    });
    const bool over = mine(run, rowsFor({0, 1}));
    fullDisk::full = false;
    EXPECT_TRUE(over);
    EXPECT_TRUE(run.faulted());
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    EXPECT_TRUE(errors[0].contains("database or disk is full")) << errors[0].toStdString();
    EXPECT_EQ(savedFailed, QList<int>{400});
    // Nothing of the shop is half stored, and the second shop is not downloaded: at most its
    // shop page and first rating page, asked for while the first shop's last pages were in
    // flight, never the rest of its 10 pages.
    EXPECT_EQ(count("select count(*) from pjinfo"), 0);
    int second = 0;
    const QByteArray key = "/user-rate-" + shop(1)["key"].toString().toLower().toLatin1() + "--";
    for (const QByteArray& line : requests())
        second += line.toLower().contains(key) ? 1 : 0;
    EXPECT_LE(second, 1);
    dm.adoCn.close();
    fullDisk::uninstall();
}

TEST_F(StoreFaults, TheProfileWaitsForALockHeldByAnotherProgram)
{
    startMarket({"--shops", "1", "--ratings", "80", "--seed", "25"});
    TConnection holder;
    ASSERT_TRUE(holder.open(dm.adoCn.path()));
    TMiningRun run(dm);
    QStringList errors;
    QObject::connect(&run, &TMiningRun::storeError, &run, [&](const QString& e) { errors << e; });
    // Another program writes for two seconds just as the shop is to be saved.
    QObject::connect(&run, &TMiningRun::statusText, &run, [&](const QString& t) {
        if (t == QStringLiteral("正在保存数据...") && !holder.inTransaction()) {
            ASSERT_TRUE(holder.beginTransaction());
            QTimer::singleShot(2000, &run, [&] { holder.commit(); });
        }
    });
    ASSERT_TRUE(mine(run, rowsFor({0})));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    expectShopStored(0); // the profile figures with the ratings
}

TEST_F(StoreFaults, ALockHeldTooLongFailsTheShopNamingTheStep)
{
    startMarket({"--shops", "1", "--ratings", "80", "--seed", "26"});
    TConnection holder;
    ASSERT_TRUE(holder.open(dm.adoCn.path()));
    TMiningRun run(dm);
    QStringList errors;
    QObject::connect(&run, &TMiningRun::storeError, &run, [&](const QString& e) { errors << e; });
    QObject::connect(&run, &TMiningRun::statusText, &run, [&](const QString& t) {
        if (t == QStringLiteral("正在保存数据...") && !holder.inTransaction()) {
            ASSERT_TRUE(holder.beginTransaction());
        }
    });
    bool over = false;
    QObject::connect(&run, &TMiningRun::finished, &run, [&] { over = true; });
    ASSERT_EQ(run.start(rowsFor({0}), 1, 5000, m_config), TMiningRun::StartResult::Started);
    ASSERT_TRUE(waitFor([&] { return over && !run.saving(); }, 60000));
    holder.rollback();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("database is locked")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("transaction")) << "the step is named: " << errors[0].toStdString();
    EXPECT_TRUE(run.faulted());
    // Neither the ratings nor the profile figures: the shop failed whole.
    EXPECT_EQ(count("select count(*) from pjinfo"), 0);
    EXPECT_EQ(count("select count(*) from dianbase where salerCredit is not null"), 0);
}

TEST_F(StoreFaults, AddressesThatAreNotShopPagesFailAtOnceAndTheRunGoesOn)
{
    startMarket({"--shops", "2", "--ratings", "40", "--seed", "27", "--log", m_dir.filePath("requests.log")});
    // A shop of another marketplace on another port: its rating link leads there.
    MarketProcess other({"--shops", "1", "--ratings", "40", "--seed", "28"});
    ASSERT_TRUE(other.running());
    const QString home = QStringLiteral("http://127.0.0.1:%1/").arg(m_market->port());
    QProcess mine;
    mine.start(cli(), {"--data-dir", m_dir.path(), "mine", home,
                       QString::fromStdString(other.url("/shop/1.htm")), shop(1)["address"].toString()});
    ASSERT_TRUE(mine.waitForFinished(60000));
    const QList<QByteArray> lines = mine.readAllStandardOutput().split('\n');
    const QByteArray err = mine.readAllStandardError();
    EXPECT_EQ(mine.exitCode(), 1) << err.toStdString();
    ASSERT_GE(lines.size(), 3);
    for (int i : {0, 1}) {
        const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
        EXPECT_EQ(o["error"].toString(), "no rating link on the shop page") << lines[i].data();
        EXPECT_EQ(o["complete"], QJsonValue(false));
    }
    const QJsonObject last = QJsonDocument::fromJson(lines[2]).object();
    EXPECT_EQ(last["stored"].toInt(), 40) << lines[2].data();
    EXPECT_EQ(last["complete"], QJsonValue(true));
    EXPECT_EQ(err.count("no rating link on the shop page"), 2) << err.toStdString();
    // No rating address was built from the home page: its one request, then the real shop's.
    const QList<QByteArray> asked = requests();
    ASSERT_FALSE(asked.isEmpty());
    EXPECT_TRUE(asked.first().contains("GET / ")) << asked.first().data();
    for (const QByteArray& line : asked)
        EXPECT_FALSE(line.contains("http")) << "a pasted address: " << line.data();
    EXPECT_EQ(count("select count(*) from pjinfo"), 40);
}

} // namespace
