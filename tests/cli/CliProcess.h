#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One run of the built kestrova-cli over a data folder, as a user would start it.
struct CliResult
{
    int status = -1; // -1 when the process crashed or did not end in time
    QString out;
    QString err;
};

inline CliResult runCli(const QString& dataDir, const QStringList& args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(QStringLiteral(KESTROVA_BIN_DIR "/kestrova-cli"), QStringList{"--data-dir", dataDir} + args);
    p.waitForFinished(timeoutMs);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}
