#include "browser/views/BrowserGrids.h"

#include "browser/TCursorModel.h"
#include "store/TTable.h"
#include "ui/TTextColourDelegate.h"

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

namespace browsergrids {

namespace {

const QColor kOddRowTint(232, 243, 255);
const QColor kHighLevel(255, 0, 0);

// The column holding the buyer flag in the rating grid keeps its normal colours.
constexpr int kBuyerColumn = 2;

// Colours and title fonts of the two grids; the texts come from the cursor.
class ShopGridModel : public TCursorModel
{
public:
    using TCursorModel::TCursorModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.isValid() && role == Qt::ForegroundRole) {
            const int level = cursor()->FieldIndex(QStringLiteral("salelevel"));
            if (cursor()->value(index.row(), level).toLongLong() > 10)
                return kHighLevel;
        }
        // Row numbers count from 1: odd numbers are even indexes. A selected row is painted
        // with the selection colour over this.
        if (index.isValid() && role == Qt::BackgroundRole && index.row() % 2 == 0)
            return kOddRowTint;
        return TCursorModel::data(index, role);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        return titleData(this, section, orientation, role);
    }

    static QVariant titleData(const TCursorModel* model, int section, Qt::Orientation orientation, int role)
    {
        // The sorted column's title is bold; the others keep the header's own font.
        if (orientation == Qt::Horizontal && role == Qt::FontRole && section == model->sortedColumn()) {
            QFont font = QApplication::font("QHeaderView");
            font.setBold(true);
            return font;
        }
        return model->TCursorModel::headerData(section, orientation, role);
    }
};

class RatingGridModel : public TCursorModel
{
public:
    using TCursorModel::TCursorModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.isValid() && role == Qt::BackgroundRole && index.row() % 2 == 0 &&
            index.column() != kBuyerColumn)
            return kOddRowTint;
        return TCursorModel::data(index, role);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        return ShopGridModel::titleData(this, section, orientation, role);
    }

protected:
    QString displayText(int row, int column) const override
    {
        if (column == kBuyerColumn) {
            const QVariant flag = cursor()->value(row, cursorColumn(column));
            if (flag.isNull())
                return QString();
            return flag.toLongLong() != 0 ? QStringLiteral("买家") : QStringLiteral("卖家");
        }
        return TCursorModel::displayText(row, column);
    }
};

QList<TCursorModel::Column> shopColumns()
{
    return {{QStringLiteral("id"), QStringLiteral("序号")},
            {QStringLiteral("dianzhu"), QStringLiteral("店主")},
            {QStringLiteral("dianming"), QStringLiteral("店铺名")},
            {QStringLiteral("buylevel"), QStringLiteral("买家等级")},
            {QStringLiteral("salelevel"), QStringLiteral("卖家级别")},
            {QStringLiteral("buyerCredit"), QStringLiteral("买家信用")},
            {QStringLiteral("salerCredit"), QStringLiteral("卖家信用")},
            {QStringLiteral("commodityNum"), QStringLiteral("商品数量")},
            {QStringLiteral("addr"), QStringLiteral("地址")},
            {QStringLiteral("createDate"), QStringLiteral("创店日期")},
            {QStringLiteral("salerGoodRate"), QStringLiteral("卖家好评率")},
            {QStringLiteral("buyerGoodRate"), QStringLiteral("买家好评率")},
            {QStringLiteral("commodityKind"), QStringLiteral("商品分类")}};
}
// 0: the grid's default width.
const int kShopWidths[] = {32, 200, 200, 0, 0, 0, 0, 0, 100, 0, 40, 40, 200};

QList<TCursorModel::Column> ratingColumns()
{
    return {{QStringLiteral("pj"), QStringLiteral("评价")},
            {QStringLiteral("pjName"), QStringLiteral("评价人")},
            {QStringLiteral("buyerOrSaler"), QStringLiteral("买家")},
            {QStringLiteral("jg"), QStringLiteral("价格")},
            {QStringLiteral("pjsj"), QStringLiteral("评价时间")},
            {QStringLiteral("itemTitle"), QStringLiteral("商品标题")}};
}
const int kRatingWidths[] = {47, 146, 40, 46, 0, 500};
// Room beside a cell's text for the grid lines and the cell's margins.
constexpr int kCellPadding = 16;

// A read-only grid that selects whole rows and keeps its selection marked without the focus.
QTableView* newGrid(const char* name, TCursorModel* model, const QString& hint, const int* widths,
                    QWidget* parent)
{
    auto* grid = new QTableView(parent);
    grid->setObjectName(QLatin1String(name));
    grid->setModel(model);
    grid->setToolTip(hint);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setWordWrap(false);
    grid->setSortingEnabled(false);
    grid->horizontalHeader()->setSectionsClickable(true);
    grid->horizontalHeader()->setHighlightSections(false);
    // Fixed row heights: the grid never measures a hundred thousand rows.
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    grid->verticalHeader()->hide();
    // The selected row stays marked when the grid loses the focus.
    QPalette palette = grid->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    grid->setPalette(palette);
    // A red row stays red when it is the selected one.
    grid->setItemDelegate(new TTextColourDelegate(grid));
    for (int c = 0; c < model->columnCount(); ++c)
        if (widths[c] > 0)
            grid->setColumnWidth(c, widths[c]);
    return grid;
}

} // namespace

TCursorModel* newShopModel(TTable* shops, QObject* parent)
{
    return new ShopGridModel(shops, shopColumns(), parent);
}

TCursorModel* newRatingModel(TTable* ratings, QObject* parent)
{
    return new RatingGridModel(ratings, ratingColumns(), parent);
}

QTableView* shopGrid(TCursorModel* model, const QString& hint, QWidget* parent)
{
    return newGrid("userBaseGrid", model, hint, kShopWidths, parent);
}

QTableView* ratingGrid(TCursorModel* model, const QString& hint, QWidget* parent)
{
    QTableView* grid = newGrid("userDetailGrid", model, hint, kRatingWidths, parent);
    // The rating time shows whole, seconds included, in the grid's own font.
    const int time = model->columnOf(QStringLiteral("pjsj"));
    if (time >= 0)
        grid->setColumnWidth(time,
                             grid->fontMetrics().horizontalAdvance(QStringLiteral("8888-88-88 88:88:88")) +
                                 kCellPadding);
    return grid;
}

QLineEdit* namedEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QComboBox* namedList(QWidget* parent, const char* name, const QStringList& items)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    box->setCurrentIndex(0);
    return box;
}

QPushButton* namedButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

} // namespace browsergrids
