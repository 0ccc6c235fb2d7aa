#include "analysis/views/TAnalysisControls.h"

#include "analysis/RatingSpan.h"
#include "analysis/charts/AnalysisWidgets.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QWidget>

TAnalysisControls::TAnalysisControls(TViewContext& context, const QString& prefix, QWidget* view)
    : QObject(view), m_context(context), m_thread(new TAnalysisThread(context.dm().adoCn.path(), this))
{
    const QDate today = QDate::currentDate();
    m_beginDate = analysisui::dateEdit(qPrintable(prefix + QStringLiteral("beginDate")),
                                       QDate(today.year(), 1, 1), view);
    m_endDate = analysisui::dateEdit(qPrintable(prefix + QStringLiteral("endDate")), today, view);
    m_pj = analysisui::choiceList(qPrintable(prefix + QStringLiteral("pj")), analysis::ratingChoices(), view);
    m_gauge = analysisui::runGauge(view);
    connect(m_thread, &TAnalysisThread::progress, m_gauge, &QProgressBar::setValue);
    connect(m_thread, &TAnalysisThread::finished, this, &TAnalysisControls::done);
}

void TAnalysisControls::addInputs(QHBoxLayout* bar)
{
    analysisui::addLabelled(bar, QStringLiteral("开始日期"), m_beginDate);
    analysisui::addLabelled(bar, QStringLiteral("结束日期"), m_endDate);
    analysisui::addLabelled(bar, QStringLiteral("评价"), m_pj);
}

analysis::Range TAnalysisControls::range() const
{
    return analysisui::currentRange(m_context.dm().tb_dianbase, m_beginDate, m_endDate, m_pj);
}

bool TAnalysisControls::start(const analysis::Range& range, TAnalysisThread::Job job)
{
    const qlonglong shop = range.shop;
    const bool started = m_thread->start([shop, job = std::move(job)](TConnection& connection,
                                                                      const analysis::Progress& progress) {
        analysis::Result result = job(connection, progress);
        if (result.ok() && (result.rowCount() == 0 || !result.complete))
            result.emptyNote = shop > 0 ? analysis::emptyRangeNote(analysis::readRatingSpan(connection, shop))
                                        : analysis::emptyRangeNote();
        return result;
    });
    if (!started)
        return false;
    for (QWidget* button : m_buttons)
        button->setEnabled(false);
    if (m_panel)
        m_panel->setEnabled(false);
    m_gauge->setValue(0);
    m_gauge->show();
    return true;
}

void TAnalysisControls::done(const analysis::Result& result)
{
    for (QWidget* button : m_buttons)
        button->setEnabled(true);
    if (!result.ok()) {
        // The gauge stays where the run stopped until a run goes through.
        TPrompt::instance().error(m_context.dialogParent(), result.error);
        emit runFinished(false);
        return;
    }
    m_gauge->hide();
    m_gauge->setValue(0);
    // Enabled again also after a run that found nothing, so the next run's charts answer.
    if (m_panel)
        m_panel->setEnabled(true);
    if (!result.emptyNote.isEmpty()) {
        m_context.setInfo1(result.emptyNote);
        m_noteShown = true;
    } else if (m_noteShown) {
        m_context.setInfo1(QString());
        m_noteShown = false;
    }
    emit succeeded(result);
    emit runFinished(true);
}
