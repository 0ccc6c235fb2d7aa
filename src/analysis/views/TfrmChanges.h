#pragma once

#include "ui/TView.h"

#include <QList>

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class TAnalysisThread;
class TViewContext;
namespace analysis {
struct Result;
}

// What changed ("动态"): for the shops the browser lists, what each one's last mining brought
// against the one before (sales, amount, bad ratings, credit and good rate), biggest moves
// first, the shops that cross a [Watch] rule in red. Read off the UI thread whenever the
// view is shown (so after a mining run) and on "刷新"; a double click opens the shop in the
// browser. UI thread only.
class TfrmChanges : public TView
{
    Q_OBJECT

public:
    explicit TfrmChanges(TViewContext& context, QWidget* parent = nullptr);

    // "刷新": reads the changes again; ignored while a reading is under way.
    void refreshClick();
    void changesGridDblClick(int row);
    bool running() const;

signals:
    void runFinished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void runDone(const analysis::Result& result);

    TViewContext& m_context;
    TAnalysisThread* m_thread;
    QPushButton* m_refresh;
    QLabel* m_summary;
    QTableWidget* m_grid;
    QProgressBar* m_gauge;
    QList<qlonglong> m_rowShops; // the shop of each grid row
};
