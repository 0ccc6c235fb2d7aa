#pragma once

#include "browser/TExportJob.h"

#include <QObject>

class QProgressBar;
class TExportRun;
class TTable;
class TViewContext;

// The browser's exports: asks for the target file, runs one export at a time on a worker of
// its own with the view's gauge, and tells how it ended. UI thread only.
class TBrowserExport : public QObject
{
    Q_OBJECT

public:
    TBrowserExport(TViewContext& context, QProgressBar* gauge, QObject* parent = nullptr);

    // Asks for the file and starts exporting the cursor's rows as it shows them (filter and
    // sort); keeper names the ratings' file. Nothing when the user cancels or the target is
    // refused.
    void start(exportlayout::Kind kind, TExportJob::Format format, const TTable* cursor,
               const QString& keeper);
    bool busy() const;

signals:
    // An export has ended (written, failed or cancelled).
    void finished(const TExportJob::Result& result);

private:
    void progress(qint64 done, qint64 total);
    void done(const TExportJob::Result& result);

    TViewContext& m_context;
    QProgressBar* m_gauge;
    TExportRun* m_run;
    QString m_target; // the file of the export under way, for its completion text
};
