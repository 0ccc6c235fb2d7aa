#include "browser/views/TfrmViewUser.h"

#include "browser/views/BrowserGrids.h"
#include "browser/views/TBrowserExport.h"

#include "browser/BrowserTexts.h"
#include "browser/ExportLayout.h"
#include "browser/ShopDelete.h"
#include "browser/TCursorModel.h"
#include "settings/TConfig.h"
#include "store/StoreRoles.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace {

using browsergrids::namedButton;
using browsergrids::namedEdit;
using browsergrids::namedList;
using exportlayout::Kind;
using Format = TExportJob::Format;

// The details of the current shop: field, label.
const char* const kShopFields[][2] = {
    {"updateDate", "更新日期"},  {"webaddr", "网址"},       {"loc", "主营"},
    {"buyerGood", "买家好评"},   {"salerGood", "卖家好评"}, {"buyerBad", "买家坏评"},
    {"buyerNotBad", "买家中评"}, {"salerBad", "卖家坪评"},  {"salerNotBad", "卖家中评"},
};

// A record of the cursor's current row in the table's stored column order.
exportlayout::Record currentRecord(const TTable* cursor, Kind kind)
{
    QVariantList values;
    const int row = cursor->RecNo() - 1;
    for (const QString& column : exportlayout::recordColumns(kind))
        values << cursor->value(row, cursor->FieldIndex(column));
    return exportlayout::Record(kind, values);
}

} // namespace

TfrmViewUser::TfrmViewUser(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context), m_deleteRefused(context.refusal(storeroles::Action::DeleteShop)),
      m_mineRefused(context.refusal(storeroles::Action::Mine)),
      m_editRefused(context.refusal(storeroles::Action::EditRatings)), m_shops(context.dm().tb_dianbase),
      m_ratings(context.dm().tb_pjinfo), m_shopModel(browsergrids::newShopModel(m_shops, this)),
      m_ratingModel(browsergrids::newRatingModel(m_ratings, this))
{
    setObjectName(QStringLiteral("frmViewUser"));
    setWindowTitle(QStringLiteral("掌柜资料"));

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("bsSkinPageControl1"));
    m_pages->addTab(createShopPage(), QStringLiteral("掌柜资料"));
    m_pages->addTab(createTradePage(), QStringLiteral("成交明细"));
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1)
            bsSkinTabSheet2Show();
    });

    auto* gauge = new QProgressBar(this);
    gauge->setObjectName(QStringLiteral("saveGauge1"));
    gauge->setValue(0);
    gauge->hide();
    m_export = new TBrowserExport(m_context, gauge, this);
    connect(m_export, &TBrowserExport::finished, this, &TfrmViewUser::exportFinished);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addWidget(gauge);

    // The main menu's export items run the same handlers as the context menus.
    using Command = TViewContext::ExportCommand;
    const std::pair<Command, void (TfrmViewUser::*)()> commands[] = {
        {Command::ShopExcel, &TfrmViewUser::exportShopsExcel},
        {Command::ShopCsv, &TfrmViewUser::exportShopsCsv},
        {Command::TradeExcel, &TfrmViewUser::exportRatingsExcel},
        {Command::TradeCsv, &TfrmViewUser::exportRatingsCsv},
    };
    for (const auto& [command, handler] : commands)
        if (QAction* item = m_context.exportCommand(command))
            connect(item, &QAction::triggered, this, handler);

    connect(m_shops, &TCursor::currentChanged, this, &TfrmViewUser::showShop);
    connect(m_ratings, &TCursor::currentChanged, this, &TfrmViewUser::showRating);
    Refresh();
}

TfrmViewUser::~TfrmViewUser() = default;

QWidget* TfrmViewUser::createShopPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("bsSkinTabSheet1"));

    auto* filter = new QHBoxLayout;
    auto addLabelled = [&](const QString& caption, QWidget* control) {
        filter->addWidget(new QLabel(caption, page));
        filter->addWidget(control);
    };
    m_zg = namedEdit(page, "zg");
    m_dp = namedEdit(page, "dp");
    m_buyLevel = namedList(page, "buyLevel", browsertexts::levelItems());
    m_saleLevel = namedList(page, "saleLevel", browsertexts::levelItems());
    m_addr = namedEdit(page, "addr");
    addLabelled(QStringLiteral("掌柜"), m_zg);
    addLabelled(QStringLiteral("店铺名"), m_dp);
    addLabelled(QStringLiteral("买家级别"), m_buyLevel);
    addLabelled(QStringLiteral("卖家级别"), m_saleLevel);
    addLabelled(QStringLiteral("地点"), m_addr);
    auto* search = namedButton(page, "search", QStringLiteral("查 询"));
    auto* refresh = namedButton(page, "viewRefresh", QStringLiteral("刷 新"));
    filter->addWidget(search);
    filter->addWidget(refresh);
    filter->addStretch(1);
    connect(search, &QPushButton::clicked, this, &TfrmViewUser::searchClick);
    connect(refresh, &QPushButton::clicked, this, &TfrmViewUser::Refresh);
    for (QLineEdit* edit : {m_zg, m_dp, m_addr})
        connect(edit, &QLineEdit::returnPressed, this, &TfrmViewUser::searchClick);

    m_userBaseGrid = browsergrids::shopGrid(m_shopModel, QStringLiteral("双击重新更新商品成交信息"), this);
    bindGrid(m_userBaseGrid, m_shopModel, false);
    connect(m_userBaseGrid->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &TfrmViewUser::userBaseGridTitleClick);
    connect(m_userBaseGrid, &QTableView::doubleClicked, this, &TfrmViewUser::userBaseGridDblClick);

    auto* menu = new QMenu(m_userBaseGrid);
    menu->setObjectName(QStringLiteral("bsSkinPopupMenu2"));
    addMenuItem(menu, "MenuItem1", QStringLiteral("复制当前掌柜信息"), &TfrmViewUser::copyShopClick);
    menu->addSeparator();
    addMenuItem(menu, "MenuItem3", QStringLiteral("导出掌柜到excel"), &TfrmViewUser::exportShopsExcel);
    addMenuItem(menu, "MenuItem4", QStringLiteral("导出掌柜到CSV"), &TfrmViewUser::exportShopsCsv);
    menu->addSeparator();
    refuse(addMenuItem(menu, "MenuItem6", QStringLiteral("删除当前掌柜记录"), &TfrmViewUser::deleteBtnClick),
           m_deleteRefused);
    m_userBaseGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_userBaseGrid, &QWidget::customContextMenuRequested, menu,
            [this, menu](const QPoint& pos) { menu->popup(m_userBaseGrid->viewport()->mapToGlobal(pos)); });

    auto* details = new QGridLayout;
    int i = 0;
    for (const auto& [field, caption] : kShopFields) {
        QLineEdit* edit = namedEdit(page, field);
        edit->setReadOnly(true);
        m_shopFields << edit;
        details->addWidget(new QLabel(QString::fromUtf8(caption), page), i / 3, (i % 3) * 2);
        details->addWidget(edit, i / 3, (i % 3) * 2 + 1);
        ++i;
    }
    m_deleteBtn = namedButton(page, "deleteBtn", QStringLiteral("删除"));
    details->addWidget(m_deleteBtn, 0, 6);
    connect(m_deleteBtn, &QPushButton::clicked, this, &TfrmViewUser::deleteBtnClick);
    auto* mineAll = namedButton(page, "mineAllBtn", QStringLiteral("全部重新挖掘"));
    details->addWidget(mineAll, 1, 6);
    connect(mineAll, &QPushButton::clicked, this, &TfrmViewUser::mineAllBtnClick);
    refuse(mineAll, m_mineRefused);
    refuse(m_deleteBtn, m_deleteRefused);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(filter);
    layout->addWidget(m_userBaseGrid, 1);
    layout->addLayout(details);
    return page;
}

QWidget* TfrmViewUser::createTradePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("bsSkinTabSheet2"));

    auto* filter = new QHBoxLayout;
    auto addLabelled = [&](const QString& caption, QWidget* control) {
        filter->addWidget(new QLabel(caption, page));
        filter->addWidget(control);
    };
    m_pj = namedList(page, "pj", browsertexts::ratingWords());
    m_pjr = namedEdit(page, "pjr");
    m_buyer = namedList(page, "buyer", browsertexts::buyerItems());
    // Whole numbers only: a letter cannot be typed.
    const auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), page);
    m_jg1 = namedEdit(page, "jg1");
    m_jg2 = namedEdit(page, "jg2");
    for (QLineEdit* edit : {m_jg1, m_jg2}) {
        edit->setValidator(digits);
        edit->setText(QStringLiteral("0"));
        edit->setMaximumWidth(80);
    }
    m_sp = namedEdit(page, "sp");
    addLabelled(QStringLiteral("评价"), m_pj);
    addLabelled(QStringLiteral("评价人"), m_pjr);
    addLabelled(QStringLiteral("买家/卖家"), m_buyer);
    addLabelled(QStringLiteral("价格大于"), m_jg1);
    addLabelled(QStringLiteral("价格小于"), m_jg2);
    addLabelled(QStringLiteral("商品名"), m_sp);
    m_search1 = namedButton(page, "search1", QStringLiteral("查 询"));
    m_viewRefresh1 = namedButton(page, "viewRefresh1", QStringLiteral("刷 新"));
    filter->addWidget(m_search1);
    filter->addWidget(m_viewRefresh1);
    filter->addStretch(1);
    connect(m_search1, &QPushButton::clicked, this, &TfrmViewUser::search1Click);
    connect(m_viewRefresh1, &QPushButton::clicked, this, &TfrmViewUser::viewRefresh1Click);
    // Enter is the button: nothing while it is disabled (no shop to filter for).
    for (QLineEdit* edit : {m_pjr, m_jg1, m_jg2, m_sp})
        connect(edit, &QLineEdit::returnPressed, m_search1, &QPushButton::click);

    m_keeper = new QLabel(page);
    m_keeper->setObjectName(QStringLiteral("dianzhuLabel"));
    m_jyInfo = new QLabel(browsertexts::initialTradeCount(), page);
    m_jyInfo->setObjectName(QStringLiteral("jyInfo"));
    auto* header = new QHBoxLayout;
    header->addStretch(1);
    header->addWidget(m_keeper);
    header->addWidget(m_jyInfo);

    m_userDetailGrid =
        browsergrids::ratingGrid(m_ratingModel, QStringLiteral("单击鼠标右键，可进行数据的导出与删除"), this);
    bindGrid(m_userDetailGrid, m_ratingModel, true);
    connect(m_userDetailGrid->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &TfrmViewUser::userDetailGridTitleClick);

    auto* menu = new QMenu(m_userDetailGrid);
    menu->setObjectName(QStringLiteral("bsSkinPopupMenu1"));
    addMenuItem(menu, "t1", QStringLiteral("复制当前评价信息"), &TfrmViewUser::copyRatingClick);
    menu->addSeparator();
    addMenuItem(menu, "N1", QStringLiteral("导出评价到excel"), &TfrmViewUser::exportRatingsExcel);
    addMenuItem(menu, "CVS1", QStringLiteral("导出评价到CVS"), &TfrmViewUser::exportRatingsCsv);
    menu->addSeparator();
    // Deleting a rating is what a miner does to duplicates: refused with mining.
    refuse(addMenuItem(menu, "N3", QStringLiteral("删除当前评价记录"), &TfrmViewUser::deleteRatingClick),
           m_mineRefused);
    m_userDetailGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_userDetailGrid, &QWidget::customContextMenuRequested, menu,
            [this, menu](const QPoint& pos) { menu->popup(m_userDetailGrid->viewport()->mapToGlobal(pos)); });

    m_itemURL = namedButton(page, "itemURL", QStringLiteral("商品链接"));
    m_itemURL->setFlat(true);
    m_itemURL->setCursor(Qt::PointingHandCursor);
    m_itemURL->setStyleSheet(QStringLiteral("QPushButton { color: #0645ad; text-decoration: underline; "
                                            "text-align: left; border: none; }"));
    connect(m_itemURL, &QPushButton::clicked, this, &TfrmViewUser::itemURLClick);
    m_itemID = namedEdit(page, "itemID");
    m_itemID->setReadOnly(true);
    m_pjInfo = new QPlainTextEdit(page);
    m_pjInfo->setObjectName(QStringLiteral("pjInfoMemo"));
    m_pjjs = new QPlainTextEdit(page);
    m_pjjs->setObjectName(QStringLiteral("pjjsMemo"));
    for (QPlainTextEdit* memo : {m_pjInfo, m_pjjs}) {
        memo->setMaximumHeight(80);
        memo->setToolTip(m_editRefused);
    }

    auto* details = new QGridLayout;
    details->addWidget(new QLabel(QStringLiteral("商品"), page), 0, 0);
    details->addWidget(m_itemURL, 0, 1);
    details->addWidget(m_itemID, 0, 2);
    details->addWidget(new QLabel(QStringLiteral("评语"), page), 1, 0, Qt::AlignTop);
    details->addWidget(m_pjInfo, 1, 1, 1, 2);
    details->addWidget(new QLabel(QStringLiteral("解释"), page), 2, 0, Qt::AlignTop);
    details->addWidget(m_pjjs, 2, 1, 1, 2);
    details->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(filter);
    layout->addLayout(header);
    layout->addWidget(m_userDetailGrid, 1);
    layout->addLayout(details);
    return page;
}

void TfrmViewUser::bindGrid(QTableView* grid, TCursorModel* model, bool storeMemos)
{
    TTable* cursor = model->cursor();
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, cursor, storeMemos](const QModelIndex& current) {
                if (m_syncing || !current.isValid() || current.row() + 1 == cursor->RecNo())
                    return;
                if (storeMemos)
                    storeMemoEdits();
                cursor->MoveTo(current.row() + 1);
            });
    connect(cursor, &TCursor::currentChanged, grid, [this, grid, model] { selectCurrent(grid, model); });
    connect(model, &QAbstractItemModel::modelReset, grid,
            [this, grid, model] { selectCurrent(grid, model); });
}

void TfrmViewUser::selectCurrent(QTableView* grid, TCursorModel* model)
{
    const int row = model->cursor()->RecNo() - 1;
    if (row < 0 || row >= model->rowCount() || grid->currentIndex().row() == row)
        return;
    m_syncing = true;
    const QModelIndex index = model->index(row, std::max(0, grid->currentIndex().column()));
    grid->selectionModel()->setCurrentIndex(index,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid->scrollTo(index);
    m_syncing = false;
}

void TfrmViewUser::refuse(QWidget* control, const QString& why)
{
    if (why.isEmpty())
        return;
    control->setEnabled(false);
    control->setToolTip(why);
}

void TfrmViewUser::refuse(QAction* item, const QString& why)
{
    if (why.isEmpty())
        return;
    item->setEnabled(false);
    item->setToolTip(why);
    if (auto* menu = qobject_cast<QMenu*>(item->parent()))
        menu->setToolTipsVisible(true);
}

QAction* TfrmViewUser::addMenuItem(QMenu* menu, const char* name, const QString& caption,
                                   void (TfrmViewUser::*handler)())
{
    QAction* item = menu->addAction(caption);
    item->setObjectName(QLatin1String(name));
    connect(item, &QAction::triggered, this, handler);
    return item;
}

void TfrmViewUser::databaseError(const QString& text)
{
    TPrompt::instance().error(m_context.dialogParent(), text);
}

// ---- Shop list ----

void TfrmViewUser::Refresh()
{
    storeMemoEdits();
    // One reset of the grids for the two reopenings.
    m_ratings->DisableControls();
    m_shops->DisableControls();
    m_ratings->Close();
    const bool ratingsOpen = m_ratings->Open();
    m_shops->Close();
    const bool shopsOpen = m_shops->Open();
    m_shops->EnableControls();
    m_ratings->EnableControls();
    if (!ratingsOpen || !shopsOpen)
        databaseError(!shopsOpen ? m_shops->lastError() : m_ratings->lastError());

    const int shops = m_shops->RecordCount();
    m_context.setDataInfo(browsertexts::dataInfo(shops));
    m_context.setCommandsAvailable(shops >= 1);
    // A delete disables the button on an empty list; a list with shops enables it again.
    if (shops >= 1 && m_deleteRefused.isEmpty())
        m_deleteBtn->setEnabled(true);
    showShop();
}

bool TfrmViewUser::applyFilter(TTable* cursor, const QString& filter)
{
    const QString old = cursor->Filter();
    if (!cursor->SetFilter(filter) || !cursor->SetFiltered(true)) {
        const QString error = cursor->lastError();
        cursor->SetFilter(old);
        databaseError(error);
        return false;
    }
    return true;
}

void TfrmViewUser::searchClick()
{
    browsertexts::ShopFilterInput in;
    in.zg = m_zg->text();
    in.dp = m_dp->text();
    in.addr = m_addr->text();
    in.buyLevel = m_buyLevel->currentIndex();
    in.saleLevel = m_saleLevel->currentIndex();
    applyFilter(m_shops, browsertexts::shopFilter(in));
}

void TfrmViewUser::userBaseGridTitleClick(int column)
{
    if (!m_shopModel->sortByColumn(column))
        databaseError(m_shops->lastError());
}

void TfrmViewUser::userBaseGridDblClick()
{
    if (m_shops->RecordCount() == 0)
        return;
    m_context.mineShops({ShopRow::fromCursor(*m_shops)});
}

void TfrmViewUser::mineAllBtnClick()
{
    if (!m_mineRefused.isEmpty())
        return;
    QList<ShopRow> shops;
    for (int r = 0; r < m_shops->RecordCount(); ++r)
        shops << ShopRow::fromCursor(*m_shops, r);
    // A long run that stands beside "删除": it starts only when the user says so.
    if (shops.isEmpty() ||
        !TPrompt::instance().question(m_context.dialogParent(), browsertexts::confirmMineAll(shops.size())))
        return;
    m_context.mineShops(shops);
}

void TfrmViewUser::deleteBtnClick()
{
    if (!m_deleteRefused.isEmpty())
        return;
    if (m_shops->RecordCount() == 0) {
        m_deleteBtn->setEnabled(false);
        return;
    }
    if (!TPrompt::instance().question(m_context.dialogParent(), QString::fromUtf16(kConfirmDelete)))
        return;
    storeMemoEdits();
    QString error;
    if (!shopdelete::deleteCurrent(m_context.dm().adoCn, *m_shops, &error))
        databaseError(error);
    if (m_shops->RecordCount() == 0)
        m_deleteBtn->setEnabled(false);
    Refresh();
}

void TfrmViewUser::showShop()
{
    const bool any = m_shops->RecordCount() > 0;
    for (QLineEdit* edit : m_shopFields)
        edit->setText(any ? m_shops->FieldByName(edit->objectName()).asString() : QString());
    m_keeper->setText(currentKeeper());
}

QString TfrmViewUser::currentKeeper() const
{
    return m_shops->FieldByName(QStringLiteral("dianzhu")).asString();
}

// ---- Trade detail ----

void TfrmViewUser::showTradeCount(bool bang)
{
    if (m_ratings->Active())
        m_jyInfo->setText(browsertexts::tradeCount(m_ratings->RecordCount(), bang));
}

void TfrmViewUser::bsSkinTabSheet2Show()
{
    if (m_shops->RecordCount() == 0) {
        m_search1->setEnabled(false);
        m_viewRefresh1->setEnabled(false);
        return;
    }
    m_search1->setEnabled(true);
    m_viewRefresh1->setEnabled(true);
    storeMemoEdits();
    if (!applyFilter(m_ratings,
                     browsertexts::tradeFilter(m_shops->FieldByName(QStringLiteral("id")).asInteger())))
        return;
    showTradeCount(true);
}

void TfrmViewUser::search1Click()
{
    browsertexts::TradeFilterInput in;
    in.pjr = m_pjr->text();
    in.pjIndex = m_pj->currentIndex();
    in.buyerIndex = m_buyer->currentIndex();
    in.jg1 = m_jg1->text();
    in.jg2 = m_jg2->text();
    in.sp = m_sp->text();
    storeMemoEdits();
    const qlonglong shop = m_shops->FieldByName(QStringLiteral("id")).asInteger();
    // Setting the filter reads the rows anew, as a reopening would.
    if (!applyFilter(m_ratings, browsertexts::tradeFilter(shop, browsertexts::tradeConditions(in))))
        return;
    showTradeCount(false);
}

void TfrmViewUser::viewRefresh1Click()
{
    storeMemoEdits();
    const qlonglong shop = m_shops->FieldByName(QStringLiteral("id")).asInteger();
    if (!applyFilter(m_ratings, browsertexts::tradeFilter(shop)))
        return;
    showTradeCount(false);
}

void TfrmViewUser::userDetailGridTitleClick(int column)
{
    storeMemoEdits();
    if (!m_ratingModel->sortByColumn(column))
        databaseError(m_ratings->lastError());
}

void TfrmViewUser::deleteRatingClick()
{
    if (m_ratings->RecordCount() == 0 || !m_mineRefused.isEmpty())
        return;
    if (!TPrompt::instance().question(m_context.dialogParent(), QString::fromUtf16(kConfirmDelete)))
        return;
    // Text typed into the memos of the rating that goes is dropped with it.
    m_pjInfo->document()->setModified(false);
    m_pjjs->document()->setModified(false);
    if (!m_ratings->Delete())
        databaseError(m_ratings->lastError());
}

void TfrmViewUser::showRating()
{
    const bool any = m_ratings->Active() && m_ratings->RecordCount() > 0;
    m_pjInfo->setPlainText(any ? m_ratings->FieldByName(QStringLiteral("pjInfo")).asString() : QString());
    m_pjjs->setPlainText(any ? m_ratings->FieldByName(QStringLiteral("pjjs")).asString() : QString());
    for (QPlainTextEdit* memo : {m_pjInfo, m_pjjs}) {
        memo->document()->setModified(false);
        memo->setReadOnly(!any || !m_editRefused.isEmpty());
    }
    m_itemID->setText(any ? m_ratings->FieldByName(QStringLiteral("itemId")).asString() : QString());
    // Rebuilt for every rating, not only when the item id changes: two trades of one item
    // have snapshots of their own.
    const TField trade = m_ratings->FieldByName(QStringLiteral("trade_id"));
    if (!any) {
        m_itemURL->setText(QStringLiteral("商品链接"));
        m_itemTarget.clear();
    } else if (trade.isNull()) {
        m_itemURL->setText(QString::fromUtf16(exportlayout::kNoLink));
        m_itemTarget.clear();
    } else {
        m_itemURL->setText(m_ratings->FieldByName(QStringLiteral("itemTitle")).asString());
        m_itemTarget = exportlayout::snapshotLink(snapHost(), trade.raw(),
                                                  m_ratings->FieldByName(QStringLiteral("itemId")).raw());
    }
    m_itemURL->setToolTip(m_itemTarget);
}

void TfrmViewUser::itemURLClick()
{
    if (!m_itemTarget.isEmpty())
        QDesktopServices::openUrl(QUrl(m_itemTarget));
}

void TfrmViewUser::storeMemoEdits()
{
    if (!m_pjInfo->document()->isModified() && !m_pjjs->document()->isModified())
        return;
    // Only the memo typed into is written: the memo shows a stored text with its line breaks
    // and blanks normalised, and an untouched one must keep what is stored.
    QVariantHash values;
    if (m_pjInfo->document()->isModified())
        values.insert(QStringLiteral("pjInfo"), m_pjInfo->toPlainText());
    if (m_pjjs->document()->isModified())
        values.insert(QStringLiteral("pjjs"), m_pjjs->toPlainText());
    m_pjInfo->document()->setModified(false);
    m_pjjs->document()->setModified(false);
    if (m_ratings->RecordCount() > 0 && !m_ratingModel->postCurrent(values))
        databaseError(m_ratings->lastError());
}

void TfrmViewUser::hideEvent(QHideEvent* event)
{
    storeMemoEdits();
    TView::hideEvent(event);
}

void TfrmViewUser::showEvent(QShowEvent* event)
{
    TView::showEvent(event);
    // Coming back to the browser with the trade tab on top shows that tab again: its rows and
    // count follow the current shop, which may have changed or been mined meanwhile.
    if (!event->spontaneous() && m_pages->currentIndex() == 1)
        bsSkinTabSheet2Show();
}

QString TfrmViewUser::snapHost() const
{
    return m_context.config().Market().SnapHost;
}

// ---- Copies and exports ----

void TfrmViewUser::copyShopClick()
{
    if (m_shops->RecordCount() == 0)
        return;
    QApplication::clipboard()->setText(exportlayout::shopCopy(currentRecord(m_shops, Kind::Shops)));
}

void TfrmViewUser::copyRatingClick()
{
    if (m_ratings->RecordCount() == 0)
        return;
    storeMemoEdits();
    QApplication::clipboard()->setText(
        exportlayout::ratingCopy(currentRecord(m_ratings, Kind::Ratings), snapHost()));
}

void TfrmViewUser::exportShopsExcel()
{
    startExport(Kind::Shops, Format::Xlsx);
}

void TfrmViewUser::exportShopsCsv()
{
    startExport(Kind::Shops, Format::Csv);
}

void TfrmViewUser::exportRatingsExcel()
{
    startExport(Kind::Ratings, Format::Xlsx);
}

void TfrmViewUser::exportRatingsCsv()
{
    startExport(Kind::Ratings, Format::Csv);
}

bool TfrmViewUser::exportBusy() const
{
    return m_export->busy();
}

void TfrmViewUser::startExport(Kind kind, Format format)
{
    // One export at a time.
    if (m_export->busy())
        return;
    // The rating CSV needs a shop; the rating spreadsheet needs ratings.
    const bool ready = kind == Kind::Ratings && format == Format::Xlsx ? m_ratings->RecordCount() > 0
                                                                       : m_shops->RecordCount() > 0;
    if (!ready)
        return;
    storeMemoEdits();
    m_export->start(kind, format, kind == Kind::Shops ? m_shops : m_ratings, currentKeeper());
}
