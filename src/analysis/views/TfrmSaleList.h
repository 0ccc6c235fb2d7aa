#pragma once

#include <QDialog>

class QTableView;
class TCursor;

// The list window of the ranking ("排名商品列表"): a grid over the ranking result whose moves
// move the result's current row, so the ranking view's record bar and details follow. Freed
// when closed. UI thread only.
class TfrmSaleList : public QDialog
{
    Q_OBJECT

public:
    TfrmSaleList(TCursor* ranking, QWidget* parent);

    QTableView* grid() const { return m_grid; }

    // "关闭".
    void bsSkinButton1Click();

private:
    TCursor* m_ranking;
    QTableView* m_grid;
};
