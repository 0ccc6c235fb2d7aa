#include "browser/views/TBrowserExport.h"

#include "browser/BrowserTexts.h"
#include "browser/TExportRun.h"
#include "settings/TConfig.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <algorithm>

namespace {

using exportlayout::Kind;
using Format = TExportJob::Format;

// A shopkeeper's name as part of a file name.
QString fileSafe(QString text)
{
    return text.replace(u'/', u'_');
}

} // namespace

TBrowserExport::TBrowserExport(TViewContext& context, QProgressBar* gauge, QObject* parent)
    : QObject(parent), m_context(context), m_gauge(gauge), m_run(new TExportRun(this))
{
    connect(m_run, &TExportRun::progressChanged, this, &TBrowserExport::progress);
    connect(m_run, &TExportRun::finished, this, &TBrowserExport::done);
}

bool TBrowserExport::busy() const
{
    return m_run->busy();
}

void TBrowserExport::start(Kind kind, Format format, const TTable* cursor, const QString& keeper)
{
    if (m_run->busy())
        return;
    QString name;
    if (kind == Kind::Shops)
        name = QStringLiteral("导出掌柜数据");
    else
        name = QStringLiteral("导出") + fileSafe(keeper) +
               (format == Format::Xlsx ? QStringLiteral("交易数据") : QStringLiteral("掌柜评价数据"));
    // The workbook is Office Open XML, so it carries that extension.
    name += format == Format::Xlsx ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
    const QString filter =
        format == Format::Xlsx ? QStringLiteral("All files (*.xlsx)") : QStringLiteral("*.csv");
    const QString target =
        TPrompt::instance().saveFileName(m_context.dialogParent(), QStringLiteral("Save file"), name, filter);
    if (target.isEmpty())
        return;
    const QString blocked = TExportJob::blockedTarget(target, format);
    if (!blocked.isEmpty()) {
        TPrompt::instance().warning(m_context.dialogParent(), blocked);
        return;
    }

    TExportJob::Request request;
    request.kind = kind;
    request.format = format;
    request.databasePath = m_context.dm().adoCn.path();
    // The rows as the grid shows them now; the cursor itself never moves.
    request.ids = cursor->Keys();
    request.target = target;
    m_target = QDir::toNativeSeparators(target);
    request.snapHost = m_context.config().Market().SnapHost;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_gauge->setRange(0, std::max(1, static_cast<int>(request.ids.size())));
    m_gauge->setValue(0);
    m_gauge->show();
    m_run->start(std::move(request));
}

void TBrowserExport::progress(qint64 done, qint64 total)
{
    m_gauge->setRange(0, std::max<qint64>(1, total));
    m_gauge->setValue(static_cast<int>(done));
}

void TBrowserExport::done(const TExportJob::Result& result)
{
    m_gauge->hide();
    m_gauge->setValue(0);
    QApplication::restoreOverrideCursor();
    if (!result.ok && !result.cancelled)
        TPrompt::instance().error(m_context.dialogParent(), result.error);
    if (result.ok)
        m_context.setInfo1(browsertexts::exportDone(result.rows, result.sheets, m_target));
    emit finished(result);
}
