#pragma once

#include "store/ShopRow.h"
#include "ui/TView.h"

#include <QList>
#include <QStringList>
#include <array>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QWidget;
class TMiningRun;
class TSearchRun;
class TViewContext;
struct SearchCriteria;

// The search and mining view ("高级搜索"): the criteria tab with the search log and its history
// file, the result grid where shops are marked, and the progress panels of both runs. The
// runs themselves live in TSearchRun and TMiningRun; this class only moves values between
// them and the widgets. UI thread only.
class TfrmAdvanceSearch : public TView
{
    Q_OBJECT

public:
    static constexpr int kColumns = 9;

    explicit TfrmAdvanceSearch(TViewContext& context, QWidget* parent = nullptr);
    ~TfrmAdvanceSearch() override;

    // Replaces the grid with a result list, each shop with its category.
    void fillResultGrid(const QList<ShopRow>& shops);
    // Marks or unmarks a result row (1 = first result); rows without a result are left alone.
    void setRowMarked(int row, bool marked);
    // Shows the result tab with these shops, all marked, and mines them with trade records
    // ("交易信息" ticked): how the browser sends stored shops back to the mining run.
    void mineShops(const QList<ShopRow>& shops);

    // "搜 索": checks the criteria and starts a search.
    void searchClick();
    // "取 消" of the search panel.
    void cancelSearchClick();
    // "开始挖掘": stores the marked shops and mines them one after another.
    void saveSearchClick();
    // "取 消" of the mining panel.
    void saveCancelClick();
    // A click on a grid row toggles its mark.
    void searchGridClick(int row);
    // "继续" of the line offering an unfinished run: shows the run's shops (the finished ones
    // unmarked) and mines its unfinished ones.
    void resumeRunClick();

    // False (after telling the user) while ratings are being written.
    bool FormCloseQuery();
    // A search or a mining run is in progress.
    bool busy() const;

    std::optional<int> backgroundProgress() const override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* createAdvancePage();
    QWidget* createResultPage();
    QFrame* createSearchPanel();
    QFrame* createExcavatePanel();
    void connectSearchRun();
    void connectMiningRun();
    QFrame* createResumeBar();
    // Looks for a run a crash or a failure left unfinished and offers it.
    void offerUnfinishedRun();

    SearchCriteria criteria() const;
    QStringList logLines() const;
    void appendLog(const QStringList& lines);
    void resetGrid(int rows);
    void setMark(int gridRow, bool marked);
    bool hasResults() const;
    void markAll(bool marked);
    void resetSearchPanel();
    void resetExcavatePanel();
    void searchFinished(const QList<ShopRow>& shops);
    void miningFinished();

    // Search history under the log.
    void clearHistoryClick();
    void saveHistoryClick();
    void loadHistoryClick();

    TViewContext& m_context;
    TSearchRun* m_searchRun;
    TMiningRun* m_miningRun;

    QTabWidget* m_searchPages = nullptr;
    QWidget* m_advancePanel = nullptr;
    QLineEdit* m_shopname = nullptr;
    QLineEdit* m_sellername = nullptr;
    QLineEdit* m_keybiz = nullptr;
    QLineEdit* m_loc = nullptr;
    QComboBox* m_id = nullptr;
    std::array<QCheckBox*, 15> m_ratesum{};
    QSlider* m_searchPageSel = nullptr;
    QLabel* m_selCount = nullptr;
    QPlainTextEdit* m_searchList = nullptr;

    QWidget* m_resultToolPanel = nullptr;
    QSpinBox* m_fromData = nullptr;
    QSpinBox* m_toData = nullptr;
    QCheckBox* m_infoDetailCheck = nullptr;
    QCheckBox* m_newOnlyCheck = nullptr;
    QTableWidget* m_searchGrid = nullptr;

    QFrame* m_searchPanel = nullptr;
    QLabel* m_searchLabel = nullptr;
    QLabel* m_finishSearch = nullptr;
    QLabel* m_selNums = nullptr;
    QProgressBar* m_searchProgress = nullptr;
    QProgressBar* m_searchGauge = nullptr;

    QFrame* m_excavatePanel = nullptr;
    QFrame* m_resumeBar = nullptr;
    QLabel* m_resumeText = nullptr;
    qint64 m_offeredRun = 0;
    QLabel* m_savedNum = nullptr;
    QLabel* m_totalSaveNum = nullptr;
    QLabel* m_curUser = nullptr;
    QLabel* m_totalNum = nullptr;
    QLabel* m_havedFinishNum = nullptr;
    QProgressBar* m_downGauge = nullptr;
    QProgressBar* m_excavateGauge = nullptr;
    QPushButton* m_saveCancel = nullptr;
};
