#include "cli/CliCommand.h"
#include "cli/CliDatabase.h"
#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/DatabaseChoice.h"
#include "store/TConnection.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {
std::vector<CliCommand>& registry()
{
    static std::vector<CliCommand> commands;
    return commands;
}

// A usage text is the command's arguments, three blanks, then what it does.
std::pair<QString, QString> argumentsAndSummary(const CliCommand& c)
{
    const qsizetype gap = c.usage.indexOf(QLatin1String("   "));
    return {c.usage.left(gap).trimmed(), gap > 0 ? c.usage.mid(gap).trimmed() : QString()};
}

QString globalOptions(const CliCommand& c)
{
    return c.database ? QStringLiteral("[--data-dir DIR] [--database URL]")
                      : QStringLiteral("[--data-dir DIR]");
}

void printUsage(FILE* to)
{
    std::fprintf(to,
                 "usage: kestrova-cli [--data-dir DIR] [--database URL] COMMAND [ARGS...]\n\ncommands:\n");
    for (const CliCommand& c : cliCommands())
        std::fprintf(to, "  %s\n", qPrintable(c.usage));
    std::fprintf(to, "\noptions:\n"
                     "  --data-dir DIR   keep the configuration and the database in DIR (default: a\n"
                     "                   writable data/ beside bin/, else $XDG_DATA_HOME/kestrova)\n"
                     "  --database URL   work on a PostgreSQL server, a libpq connection URI such as\n"
                     "                   postgresql://USER@HOST:PORT/DATABASE (default: [Database] Url\n"
                     "                   of config.ini; without one, the data folder's SQLite file)\n"
                     "  --help           show this text; COMMAND --help explains one command\n");
    std::fprintf(to, "\ndata folder: %s\n", qPrintable(Paths::dataDirSummary()));
    std::fprintf(to, "database: %s\n", qPrintable(cliDatabaseSummary()));
}
} // namespace

CliRegistration::CliRegistration(CliCommand command)
{
    registry().push_back(std::move(command));
}

const std::vector<CliCommand>& cliCommands()
{
    return registry();
}

QString cliUsage(const QString& name)
{
    for (const CliCommand& c : cliCommands()) {
        if (c.name != name)
            continue;
        return QStringLiteral("usage: kestrova-cli %1 %2")
            .arg(globalOptions(c), argumentsAndSummary(c).first);
    }
    return QStringLiteral("usage: kestrova-cli [--data-dir DIR] [--database URL] COMMAND [ARGS...]");
}

int main(int argc, char** argv)
{
    // A file size limit makes a write fail with its reason, which the export reports, rather
    // than end the process and leave its files half written.
    std::signal(SIGXFSZ, SIG_IGN);
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    QStringList args = app->arguments().mid(1);
    // --help comes after every option: the text names the folder and the database they choose.
    bool help = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--data-dir")) {
            // An empty folder name would quietly mean the folder beside the program.
            if (args.isEmpty() || args.first().isEmpty()) {
                std::fprintf(stderr, "kestrova-cli: --data-dir needs a folder name\n");
                return 2;
            }
            Paths::setDataDir(args.takeFirst());
        } else if (opt == QLatin1String("--database")) {
            if (args.isEmpty() || args.first().trimmed().isEmpty()) {
                std::fprintf(stderr, "kestrova-cli: --database needs a PostgreSQL connection URI "
                                     "(postgresql://USER@HOST:PORT/DATABASE)\n");
                return 2;
            }
            const QString url = args.takeFirst().trimmed();
            if (!TConnection::isServerAddress(url)) {
                std::fprintf(
                    stderr, "kestrova-cli: %s\n",
                    qPrintable(databasechoice::notAServerAddress(url, databasechoice::Origin::CommandLine)));
                return 2;
            }
            setCliDatabaseUrl(url);
        } else if (opt == QLatin1String("--help")) {
            help = true;
        } else {
            std::fprintf(stderr, "kestrova-cli: unknown option %s\n", qPrintable(opt));
            printUsage(stderr);
            return 2;
        }
    }
    if (help) {
        printUsage(stdout);
        return 0;
    }
    if (args.isEmpty()) {
        printUsage(stderr);
        return 2;
    }
    const QString name = args.takeFirst();
    for (const CliCommand& c : cliCommands()) {
        if (c.name != name)
            continue;
        if (args.contains(QLatin1String("--help"))) {
            std::printf("%s\n", qPrintable(cliUsage(c.name)));
            if (const QString summary = argumentsAndSummary(c).second; !summary.isEmpty())
                std::printf("%s\n", qPrintable(summary));
            if (!c.help.isEmpty())
                std::printf("\n%s\n", qPrintable(c.help.trimmed()));
            return 0;
        }
        if (QString error; !Paths::prepareDataDir(&error)) {
            std::fprintf(stderr, "kestrova-cli: %s\n", qPrintable(error));
            return 1;
        }
        // A folder used from the command line alone gets the commented configuration the
        // program writes, so there is a file to put [Database] Url or [Net] keys in. A folder
        // that cannot be written is read as it is.
        if (const QString ini = Paths::configFile();
            !QFileInfo::exists(ini) && QFileInfo(Paths::dataDir()).isWritable()) {
            if (QString error; !settings::load(ini, &error))
                std::fprintf(stderr, "kestrova-cli: cannot write %s: %s\n", qPrintable(ini),
                             qPrintable(error));
        }
        if (c.gui) {
            app.reset();
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            // Drawing offscreen needs no session: a private folder keeps Qt's complaint about a
            // missing one off standard error, which carries the command's own messages.
            if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
                const QString runtime =
                    QDir::tempPath() + QStringLiteral("/kestrova-runtime-%1").arg(::getuid());
                if (QDir().mkpath(runtime) &&
                    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner))
                    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
            }
            app = std::make_unique<QApplication>(argc, argv);
        }
        return c.run(args);
    }
    std::fprintf(stderr, "kestrova-cli: unknown command %s\n", qPrintable(name));
    printUsage(stderr);
    return 2;
}
