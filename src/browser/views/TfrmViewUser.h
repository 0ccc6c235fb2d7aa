#pragma once

#include "browser/TExportJob.h"
#include "ui/TView.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class TCursorModel;
class TBrowserExport;
class TTable;
class TViewContext;

// The shopkeeper browser ("掌柜资料"): the shop list with its filter, details, deletion and
// re-mining, the trade detail of the current shop, and the copies and exports of both. The
// rows, filters and sort orders live in the data module's two cursors; exports run on a
// worker of their own. UI thread only.
class TfrmViewUser : public TView
{
    Q_OBJECT

public:
    static constexpr char16_t kConfirmDelete[] = u"确定要删除此记录吗?";

    explicit TfrmViewUser(TViewContext& context, QWidget* parent = nullptr);
    ~TfrmViewUser() override;

    // Shop list.
    // Reopens both cursors, reports the count and the command availability ("刷 新").
    void Refresh();
    // "查 询": the filter panel's conditions.
    void searchClick();
    void userBaseGridTitleClick(int column);
    // Double click: the current shop goes back to the mining run.
    void userBaseGridDblClick();
    // mineAllBtn: every shop the list shows (its filter and order) goes to the mining run.
    void mineAllBtnClick();
    // deleteBtn and "删除当前掌柜记录": the shop and its ratings, after asking.
    void deleteBtnClick();

    // Trade detail.
    // The tab is shown: the current shop's ratings.
    void bsSkinTabSheet2Show();
    void search1Click();
    void viewRefresh1Click();
    void userDetailGridTitleClick(int column);
    void deleteRatingClick();
    // Opens the current rating's snapshot link in the system's browser.
    void itemURLClick();

    // Copies and exports.
    void copyShopClick();
    void copyRatingClick();
    void exportShopsExcel();
    void exportShopsCsv();
    void exportRatingsExcel();
    void exportRatingsCsv();
    bool exportBusy() const;

signals:
    // An export has ended (written, failed or cancelled).
    void exportFinished(const TExportJob::Result& result);

protected:
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* createShopPage();
    QWidget* createTradePage();
    void bindGrid(QTableView* grid, TCursorModel* model, bool storeMemos);
    void selectCurrent(QTableView* grid, TCursorModel* model);
    // Disables what the store's user may not do, with the server's reason as its tool tip.
    static void refuse(QWidget* control, const QString& why);
    static void refuse(QAction* item, const QString& why);
    QAction* addMenuItem(QMenu* menu, const char* name, const QString& caption,
                         void (TfrmViewUser::*handler)());

    void showShop();
    void showRating();
    // Stores text typed into the memos in the current rating.
    void storeMemoEdits();
    void showTradeCount(bool bang);
    // Sets a filter and switches filtering on; on an error the old filter stays and the
    // engine's message is shown.
    bool applyFilter(TTable* cursor, const QString& filter);
    QString currentKeeper() const;
    QString snapHost() const;

    void startExport(exportlayout::Kind kind, TExportJob::Format format);
    void databaseError(const QString& text);

    TViewContext& m_context;
    // Why the store's user may not delete a shop, mine or edit a rating's memos; empty: it may.
    QString m_deleteRefused;
    QString m_mineRefused;
    QString m_editRefused;
    TTable* m_shops;
    TTable* m_ratings;
    TCursorModel* m_shopModel;
    TCursorModel* m_ratingModel;
    TBrowserExport* m_export = nullptr;
    bool m_syncing = false;

    QTabWidget* m_pages = nullptr;
    QLineEdit* m_zg = nullptr;
    QLineEdit* m_dp = nullptr;
    QComboBox* m_buyLevel = nullptr;
    QComboBox* m_saleLevel = nullptr;
    QLineEdit* m_addr = nullptr;
    QTableView* m_userBaseGrid = nullptr;
    QList<QLineEdit*> m_shopFields;
    QPushButton* m_deleteBtn = nullptr;

    QComboBox* m_pj = nullptr;
    QLineEdit* m_pjr = nullptr;
    QComboBox* m_buyer = nullptr;
    QLineEdit* m_jg1 = nullptr;
    QLineEdit* m_jg2 = nullptr;
    QLineEdit* m_sp = nullptr;
    QPushButton* m_search1 = nullptr;
    QPushButton* m_viewRefresh1 = nullptr;
    QLabel* m_keeper = nullptr;
    QLabel* m_jyInfo = nullptr;
    QTableView* m_userDetailGrid = nullptr;
    QPushButton* m_itemURL = nullptr;
    QString m_itemTarget;
    QLineEdit* m_itemID = nullptr;
    QPlainTextEdit* m_pjInfo = nullptr;
    QPlainTextEdit* m_pjjs = nullptr;
};
