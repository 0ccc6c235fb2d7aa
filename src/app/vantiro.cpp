// The program: parses its options, creates the main window and runs the event loop.
#include "app/TfrmMain.h"
#include "settings/Paths.h"
#include "store/DatabaseChoice.h"
#include "store/TConnection.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QIcon>
#include <QLoggingCategory>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

// QT_LOGGING_RULES="kestrova.startup.debug=true" prints the start-up time.
Q_LOGGING_CATEGORY(lcStartup, "kestrova.startup", QtWarningMsg)

namespace {

const QStringList kStartViews = {
    QStringLiteral("index"), QStringLiteral("search"), QStringLiteral("browser"), QStringLiteral("rank"),
    QStringLiteral("trend"), QStringLiteral("dist"),   QStringLiteral("options"), QStringLiteral("about")};

// --view NAME: what to show once the window is up (used for screenshots and by users who
// always start in the same place).
void openStartView(TfrmMain& main, const QString& name)
{
    static const std::map<QString, ViewId> kViews = {
        {QStringLiteral("index"), ViewId::Index},     {QStringLiteral("search"), ViewId::Search},
        {QStringLiteral("browser"), ViewId::Browser}, {QStringLiteral("rank"), ViewId::Rank},
        {QStringLiteral("trend"), ViewId::Trend},     {QStringLiteral("dist"), ViewId::Dist},
        {QStringLiteral("changes"), ViewId::Changes}, {QStringLiteral("compare"), ViewId::Compare},
    };
    if (auto it = kViews.find(name); it != kViews.end()) {
        // An analysis works on the browser's current shop, so the browser comes first, as for
        // a user.
        if (it->second != ViewId::Index && it->second != ViewId::Search && it->second != ViewId::Browser)
            main.showView(ViewId::Browser);
        main.showView(it->second);
        return;
    }
    // The dialogs are modal: open them from the running event loop.
    const char* item = name == QLatin1String("options") ? "miOptions" : "miAbout";
    QTimer::singleShot(0, main.findChild<QAction*>(QLatin1String(item)), &QAction::trigger);
}

} // namespace

int main(int argc, char** argv)
{
    // A file size limit makes a write fail with its reason, which the export reports, rather
    // than end the process and leave its files half written.
    std::signal(SIGXFSZ, SIG_IGN);
    QElapsedTimer startup;
    startup.start();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrova"));
    QApplication::setApplicationVersion(QStringLiteral(KESTROVA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrova"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kestrova.png")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Kestrova: find, mine, browse and chart marketplace shops."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption dataDir(QStringLiteral("data-dir"),
                               QStringLiteral("Keep the configuration and the database in DIR (default: a "
                                              "writable data/ beside bin/, else "
                                              "$XDG_DATA_HOME/kestrova)."),
                               QStringLiteral("DIR"));
    QCommandLineOption view(
        QStringLiteral("view"),
        QStringLiteral("Show NAME after start: index, search, browser, rank, trend, dist, "
                       "options or about."),
        QStringLiteral("NAME"));
    QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("Work on a PostgreSQL server, a libpq connection URI such as "
                       "postgresql://USER@HOST:PORT/DATABASE (default: [Database] Url of config.ini; "
                       "without one, the data folder's SQLite file)."),
        QStringLiteral("URL"));
    parser.addOption(dataDir);
    parser.addOption(database);
    parser.addOption(view);
    parser.process(app);

    if (parser.isSet(view) && !kStartViews.contains(parser.value(view))) {
        qWarning("kestrova: --view takes one of: %s", qPrintable(kStartViews.join(QStringLiteral(", "))));
        return 2;
    }
    if (parser.isSet(dataDir)) {
        // An empty folder name would quietly mean the folder beside the program.
        if (parser.value(dataDir).isEmpty()) {
            qWarning("kestrova: --data-dir needs a folder name");
            return 2;
        }
        Paths::setDataDir(parser.value(dataDir));
    }

    QString databaseUrl;
    if (parser.isSet(database)) {
        databaseUrl = parser.value(database).trimmed();
        if (databaseUrl.isEmpty()) {
            qWarning("kestrova: --database needs a PostgreSQL connection URI "
                     "(postgresql://USER@HOST:PORT/DATABASE)");
            return 2;
        }
        if (!TConnection::isServerAddress(databaseUrl)) {
            qWarning("kestrova: %s", qPrintable(databasechoice::notAServerAddress(
                                         databaseUrl, databasechoice::Origin::CommandLine)));
            return 2;
        }
    }

    TfrmMain main;
    main.setDatabaseUrl(databaseUrl);
    if (!main.FormCreate())
        return 1;
    QObject::connect(&main, &TfrmMain::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    main.show();
    if (parser.isSet(view))
        openStartView(main, parser.value(view));
    QTimer::singleShot(
        0, &main, [&startup] { qCDebug(lcStartup) << "window shown after" << startup.elapsed() << "ms"; });
    const int status = app.exec();
    // A forced exit leaves downloads or the rating saver running. They end with the
    // process: the database keeps its last committed state (write-ahead log), and tearing
    // down objects under running threads would only risk a crash on the way out.
    if (main.running().saving() || main.running().downloading()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
