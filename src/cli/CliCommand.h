#pragma once

#include <QStringList>
#include <functional>

// A subcommand of kestrova-cli. Each lives in its own file and registers itself with a
// static CliRegistration, so adding one touches no other file.
struct CliCommand
{
    QString name;
    QString usage; // one line, shown by --help
    // Arguments after the subcommand name; returns the process exit status.
    std::function<int(const QStringList& args)> run;
    // The options, one per line, printed under the usage line by "COMMAND --help".
    QString help = {};
    // Draws with widgets (chart pictures): runs under a QApplication, offscreen when no
    // platform is chosen.
    bool gui = false;
    // Works on the database, so --database applies; false for commands that read only files.
    bool database = true;
};

struct CliRegistration
{
    explicit CliRegistration(CliCommand command);
};

const std::vector<CliCommand>& cliCommands();

// "usage: kestrova-cli [GLOBAL OPTIONS] COMMAND ARGS", without the description, for a command's
// refusals and its --help: the global options it takes included.
QString cliUsage(const QString& name);
