#pragma once

#include <QString>
#include <QStringList>

// The filter, sort and count texts of the shopkeeper browser, built from the values of its
// controls. Kept apart from the widgets so the command line and the tests build the very
// same texts. Thread-safe.
namespace browsertexts {

// Values of the shop list's filter panel.
struct ShopFilterInput
{
    QString zg;        // shopkeeper contains
    QString dp;        // shop name contains
    QString addr;      // location contains
    int buyLevel = 0;  // index in the level list; 0 is "不限"
    int saleLevel = 0; // index in the level list
};

// Values of the trade detail's filter panel.
struct TradeFilterInput
{
    QString pjr;        // rater contains
    int pjIndex = 0;    // index in ratingWords(); 0 is "不限"
    int buyerIndex = 0; // 0 "不限", 1 "买家", 2 "卖家"
    QString jg1, jg2;   // price bounds as typed; empty or 0 means no bound
    QString sp;         // item title contains
};

// "不限", "大于1级" ... "大于15级".
QStringList levelItems();
// "不限", "好评", "中评", "坏评".
QStringList ratingWords();
// "不限", "买家", "卖家".
QStringList buyerItems();

// The shop list's filter text; the texts go in as typed.
QString shopFilter(const ShopFilterInput& in);
// The trade detail's conditions without the shop (empty when none applies).
QString tradeConditions(const TradeFilterInput& in);
// "dian_id =" + shop, followed by " and " + conditions when there are any.
QString tradeFilter(qlonglong shopId, const QString& conditions = QString());

// The sort text a click on the title of field gives after current: descending first, then
// ascending, alternately. ascending tells which of the two it is.
QString nextSort(const QString& current, const QString& field, bool* ascending);
// Arrows put before a sorted column's title.
inline constexpr char16_t kUpArrow = u'▲';
inline constexpr char16_t kDownArrow = u'▼';
// The title without a leading arrow.
QString stripArrow(const QString& title);

// "目前共有N个掌柜数据!"
QString dataInfo(int shops);
// "掌柜共有N条交易记录!" after the tab is shown (bang), without "!" after a filter or refresh.
QString tradeCount(int ratings, bool bang);
// The status text after a finished export: the rows written and, for a spreadsheet (sheets
// above 0), the worksheets they took, e.g. "已导出1100000条记录到 F，共2个工作表。".
QString exportDone(qlonglong rows, int sheets, const QString& file);

// The count label's caption before any count.
QString initialTradeCount();
// The question before every listed shop goes back to the mining run.
QString confirmMineAll(int shops);

} // namespace browsertexts
