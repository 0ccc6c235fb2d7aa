#include "mining/TRunning.h"

#include "mining/TMiningRun.h"
#include "mining/TSearchRun.h"

void TRunning::add(const TSearchRun& run)
{
    add(&run, [&run] { return run.running(); });
}

void TRunning::add(const TMiningRun& run)
{
    add(
        &run, [&run] { return run.running(); }, [&run] { return run.saving(); });
}

void TRunning::add(const QObject* owner, Ask downloading, Ask saving)
{
    m_work.removeIf([](const Work& w) { return w.owner.isNull(); });
    m_work.append({owner, std::move(downloading), std::move(saving)});
}

bool TRunning::any(Ask Work::*question) const
{
    for (const Work& w : m_work)
        if (w.owner && w.*question && (w.*question)())
            return true;
    return false;
}

bool TRunning::downloading() const
{
    return any(&Work::downloading);
}

bool TRunning::saving() const
{
    return any(&Work::saving);
}
