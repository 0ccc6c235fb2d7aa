#include "mining/views/TfrmAdvanceSearch.h"

#include "mining/SearchCriteria.h"
#include "mining/TMiningRun.h"
#include "mining/TSearchRun.h"
#include "settings/Paths.h"
#include "store/RunRecords.h"
#include "store/TDM.h"
#include "text/Formats.h"
#include "text/GbkCodec.h"
#include "ui/TPrompt.h"
#include "ui/TTextColourDelegate.h"
#include "ui/TViewContext.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

namespace {

const QColor kMarkedText(255, 0, 0);
const QColor kOddRowTint(232, 243, 255);
const QString kMark = QStringLiteral("Y");
const QString kSearchBusyMessage = QStringLiteral("正在搜索掌柜，请稍后再进行！");

constexpr int kColumnWidths[TfrmAdvanceSearch::kColumns] = {30, 30, 150, 200, 280, 180, 60, 90, 160};
const char16_t* const kHeaders[TfrmAdvanceSearch::kColumns] = {
    u"序号", u"选择", u"掌柜", u"店铺名", u"主营", u"网址", u"宝贝数量", u"地点", u"商品种类"};

QString count(qint64 n)
{
    return QString::number(n) + u'个';
}

QLabel* valueLabel(QWidget* parent, const char* name, const QString& text = count(0))
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setMinimumWidth(60);
    return label;
}

QProgressBar* bar(QWidget* parent, const char* name)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

// The byte bar of the page being fetched; an unannounced size leaves it empty until the end.
void showBytes(QProgressBar* gauge, qint64 done, qint64 total)
{
    const int max = static_cast<int>(std::min<qint64>(total, std::numeric_limits<int>::max()));
    gauge->setRange(0, std::max(max, 1));
    gauge->setValue(static_cast<int>(std::min<qint64>(done, gauge->maximum())));
}

// The seller-level badge of box n: a rounded tag whose shade deepens with the level.
QIcon levelIcon(int n)
{
    QPixmap pixmap(22, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const int shade = 230 - n * 11;
    painter.setBrush(QColor(shade / 3, shade, 120 - n * 5));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 21, 15), 4, 4);
    painter.setPen(n > 7 ? Qt::white : Qt::black);
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QString::number(n));
    return QIcon(pixmap);
}

} // namespace

TfrmAdvanceSearch::TfrmAdvanceSearch(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context), m_searchRun(new TSearchRun(this)),
      m_miningRun(new TMiningRun(context.dm(), this))
{
    setObjectName(QStringLiteral("frmAdvanceSearch"));
    setWindowTitle(QStringLiteral("高级搜索"));

    m_searchPages = new QTabWidget(this);
    m_searchPages->setObjectName(QStringLiteral("searchPages"));
    m_searchPages->addTab(createAdvancePage(), QStringLiteral("高级搜索"));
    m_searchPages->addTab(createResultPage(), QStringLiteral("搜索结果"));

    // The progress panels stay outside the tabs: the tabs are disabled while a run works,
    // and each panel's cancel button must stay usable.
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(createResumeBar());
    layout->addWidget(m_searchPages, 1);
    layout->addWidget(createSearchPanel());
    layout->addWidget(createExcavatePanel());

    connectSearchRun();
    connectMiningRun();
    offerUnfinishedRun();
}

TfrmAdvanceSearch::~TfrmAdvanceSearch() = default;

QFrame* TfrmAdvanceSearch::createResumeBar()
{
    // A line above the tabs rather than a box: the user may also just search on.
    m_resumeBar = new QFrame(this);
    m_resumeBar->setObjectName(QStringLiteral("resumeBar"));
    m_resumeBar->setFrameShape(QFrame::StyledPanel);
    m_resumeText = new QLabel(m_resumeBar);
    m_resumeText->setObjectName(QStringLiteral("resumeText"));
    auto* resume = new QPushButton(QStringLiteral("继续"), m_resumeBar);
    resume->setObjectName(QStringLiteral("btnResumeRun"));
    auto* dismiss = new QPushButton(QStringLiteral("不再提示"), m_resumeBar);
    dismiss->setObjectName(QStringLiteral("btnDismissRun"));
    auto* row = new QHBoxLayout(m_resumeBar);
    row->addWidget(m_resumeText, 1);
    row->addWidget(resume);
    row->addWidget(dismiss);
    connect(resume, &QPushButton::clicked, this, &TfrmAdvanceSearch::resumeRunClick);
    connect(dismiss, &QPushButton::clicked, this, [this] {
        // Not offered again: the run counts as cancelled (it can still be resumed by number).
        QString error;
        if (!runrecords::setState(m_context.dm().adoCn, m_offeredRun, runrecords::RunState::Cancelled,
                                  QString(), &error))
            TPrompt::instance().error(this, error);
        m_resumeBar->hide();
    });
    m_resumeBar->hide();
    return m_resumeBar;
}

void TfrmAdvanceSearch::offerUnfinishedRun()
{
    TConnection& cn = m_context.dm().adoCn;
    if (!cn.isOpen() || cn.readOnly())
        return;
    m_offeredRun = runrecords::lastUnfinished(cn, nullptr, false);
    const std::optional<runrecords::Run> run =
        m_offeredRun > 0 ? runrecords::load(cn, m_offeredRun, nullptr) : std::nullopt;
    if (!run) {
        m_resumeBar->hide();
        return;
    }
    m_resumeText->setText(QStringLiteral("上次挖掘（%1开始）未完成：已完成%2个掌柜，共%3个。")
                              .arg(run->started)
                              .arg(run->shopsDone())
                              .arg(run->shops.size()));
    m_resumeBar->show();
}

void TfrmAdvanceSearch::resumeRunClick()
{
    if (busy()) {
        TPrompt::instance().information(this, m_searchRun->running() ? kSearchBusyMessage
                                                                     : TMiningRun::saverBusyMessage());
        return;
    }
    QString error;
    const std::optional<runrecords::Run> run = runrecords::load(m_context.dm().adoCn, m_offeredRun, &error);
    m_resumeBar->hide();
    if (!run) {
        if (!error.isEmpty())
            TPrompt::instance().error(this, error);
        return;
    }
    QList<ShopRow> shops;
    for (const runrecords::Shop& shop : run->shops)
        shops << shop.row;
    m_searchPages->setCurrentIndex(1);
    fillResultGrid(shops);
    for (int i = 0; i < run->shops.size(); ++i)
        setRowMarked(i + 1, run->unfinished(run->shops[i]));

    resetExcavatePanel();
    m_saveCancel->setEnabled(true);
    m_searchPages->setEnabled(false);
    m_resultToolPanel->setEnabled(false);
    m_excavatePanel->show();
    const TMiningRun::StartResult result = m_miningRun->resume(run->id, m_context.config());
    if (result == TMiningRun::StartResult::Started)
        return;
    m_excavatePanel->hide();
    m_searchPages->setEnabled(true);
    m_resultToolPanel->setEnabled(true);
    if (result == TMiningRun::StartResult::SaverBusy)
        TPrompt::instance().information(this, TMiningRun::saverBusyMessage());
    else if (result == TMiningRun::StartResult::StoreFailed || result == TMiningRun::StartResult::RunBusy)
        TPrompt::instance().error(this, m_miningRun->error());
}

QWidget* TfrmAdvanceSearch::createAdvancePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("advancePage"));

    m_advancePanel = new QWidget(page);
    m_advancePanel->setObjectName(QStringLiteral("advancePanel"));
    auto* form = new QGridLayout(m_advancePanel);
    int row = 0;
    auto addEdit = [&](const char* name, const QString& caption) {
        auto* edit = new QLineEdit(m_advancePanel);
        edit->setObjectName(QLatin1String(name));
        form->addWidget(new QLabel(caption, m_advancePanel), row, 0);
        form->addWidget(edit, row++, 1, 1, 2);
        return edit;
    };
    m_shopname = addEdit("shopname", QStringLiteral("店铺名称："));
    m_sellername = addEdit("sellername", QStringLiteral("掌柜会员名："));
    m_keybiz = addEdit("keybiz", QStringLiteral("主营项目："));
    m_loc = addEdit("loc", QStringLiteral("所在地："));

    m_id = new QComboBox(m_advancePanel);
    m_id->setObjectName(QStringLiteral("id"));
    for (const SearchCriteria::Category& category : SearchCriteria::categories())
        m_id->addItem(QString::fromUtf16(category.text));
    m_id->setMaxVisibleItems(15);
    // Styles that open the list as a menu around the current item ignore the visible count.
    m_id->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    m_id->setCurrentIndex(0);
    form->addWidget(new QLabel(QStringLiteral("类别："), m_advancePanel), row, 0);
    form->addWidget(m_id, row++, 1, 1, 2);

    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(4);
    for (int n = 1; n <= SearchCriteria::kLevels; ++n) {
        auto* box = new QCheckBox(m_advancePanel);
        box->setObjectName(QStringLiteral("ratesum%1").arg(n));
        box->setIcon(levelIcon(n));
        box->setIconSize(QSize(22, 16));
        box->setToolTip(QStringLiteral("%1级").arg(n));
        levels->addWidget(box, (n - 1) / 5, (n - 1) % 5);
        m_ratesum[n - 1] = box;
    }
    form->addWidget(new QLabel(QStringLiteral("掌柜级别："), m_advancePanel), row, 0, Qt::AlignTop);
    form->addLayout(levels, row++, 1, 1, 2, Qt::AlignLeft);

    m_searchPageSel = new QSlider(Qt::Horizontal, m_advancePanel);
    m_searchPageSel->setObjectName(QStringLiteral("searchPageSel"));
    m_searchPageSel->setRange(0, 200);
    m_searchPageSel->setValue(10);
    m_searchPageSel->setTickPosition(QSlider::TicksBelow);
    m_searchPageSel->setTickInterval(20);
    m_selCount = new QLabel(QStringLiteral("10"), m_advancePanel);
    m_selCount->setObjectName(QStringLiteral("selCount"));
    m_selCount->setMinimumWidth(30);
    form->addWidget(new QLabel(QStringLiteral("搜索范围："), m_advancePanel), row, 0);
    form->addWidget(m_searchPageSel, row, 1);
    form->addWidget(m_selCount, row++, 2);

    auto* search = new QPushButton(QStringLiteral("搜 索"), m_advancePanel);
    search->setObjectName(QStringLiteral("search"));
    search->setDefault(true);
    form->addWidget(search, row++, 1, 1, 1, Qt::AlignLeft);
    form->setRowStretch(row, 1);
    form->setColumnStretch(1, 1);
    connect(search, &QPushButton::clicked, this, &TfrmAdvanceSearch::searchClick);
    for (QLineEdit* edit : {m_shopname, m_sellername, m_keybiz, m_loc})
        connect(edit, &QLineEdit::returnPressed, this, &TfrmAdvanceSearch::searchClick);

    m_searchList = new QPlainTextEdit(page);
    m_searchList->setObjectName(QStringLiteral("searchList"));
    m_searchList->setReadOnly(true);
    m_searchList->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_searchList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_searchList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_searchList->appendPlainText(formats::shortDate(QDate::currentDate()));

    auto* history = new QHBoxLayout;
    auto addHistoryButton = [&](const char* name, const QString& caption,
                                void (TfrmAdvanceSearch::*handler)()) {
        auto* button = new QPushButton(caption, page);
        button->setObjectName(QLatin1String(name));
        connect(button, &QPushButton::clicked, this, handler);
        history->addWidget(button);
    };
    history->addStretch();
    addHistoryButton("bsSkinButton1", QStringLiteral("清除"), &TfrmAdvanceSearch::clearHistoryClick);
    addHistoryButton("bsSkinButton2", QStringLiteral("保存"), &TfrmAdvanceSearch::saveHistoryClick);
    addHistoryButton("bsSkinButton4", QStringLiteral("载入"), &TfrmAdvanceSearch::loadHistoryClick);

    auto* logColumn = new QVBoxLayout;
    logColumn->addWidget(m_searchList, 1);
    logColumn->addLayout(history);

    auto* layout = new QHBoxLayout(page);
    layout->addWidget(m_advancePanel, 3);
    layout->addLayout(logColumn, 2);
    return page;
}

QWidget* TfrmAdvanceSearch::createResultPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("resultPage"));

    m_resultToolPanel = new QWidget(page);
    m_resultToolPanel->setObjectName(QStringLiteral("resultToolPanel"));
    auto* tools = new QHBoxLayout(m_resultToolPanel);
    tools->setContentsMargins(0, 0, 0, 0);
    auto spin = [this](const char* name, int value) {
        auto* box = new QSpinBox(m_resultToolPanel);
        box->setObjectName(QLatin1String(name));
        box->setRange(1, 1000000);
        box->setSingleStep(1);
        box->setValue(value);
        return box;
    };
    m_fromData = spin("fromData", 1);
    m_toData = spin("toData", 5000);
    auto* selAll = new QCheckBox(QStringLiteral("全选 "), m_resultToolPanel);
    selAll->setObjectName(QStringLiteral("selAll"));
    auto* cancelSel = new QCheckBox(QStringLiteral("取消全选"), m_resultToolPanel);
    cancelSel->setObjectName(QStringLiteral("cancelSel"));
    m_infoDetailCheck = new QCheckBox(QStringLiteral("交易信息"), m_resultToolPanel);
    m_infoDetailCheck->setObjectName(QStringLiteral("infoDetailCheck"));
    m_infoDetailCheck->setChecked(true);
    m_newOnlyCheck = new QCheckBox(QStringLiteral("只取新评价"), m_resultToolPanel);
    m_newOnlyCheck->setObjectName(QStringLiteral("newOnlyCheck"));
    m_newOnlyCheck->setToolTip(QStringLiteral("已保存的店铺只下载新评价：遇到一页评价全部已保存时停止"));
    m_newOnlyCheck->setChecked(false);
    auto* saveSearch = new QPushButton(QStringLiteral("开始挖掘"), m_resultToolPanel);
    saveSearch->setObjectName(QStringLiteral("saveSearch"));
    tools->addWidget(selAll);
    tools->addWidget(cancelSel);
    tools->addSpacing(16);
    tools->addWidget(new QLabel(QStringLiteral("下载数据范围：从"), m_resultToolPanel));
    tools->addWidget(m_fromData);
    tools->addWidget(new QLabel(QStringLiteral("到"), m_resultToolPanel));
    tools->addWidget(m_toData);
    tools->addWidget(m_infoDetailCheck);
    tools->addWidget(m_newOnlyCheck);
    tools->addStretch();
    tools->addWidget(saveSearch);
    // Both boxes act on every click, whatever their tick shows.
    connect(selAll, &QCheckBox::clicked, this, [this] { markAll(true); });
    connect(cancelSel, &QCheckBox::clicked, this, [this] { markAll(false); });
    connect(saveSearch, &QPushButton::clicked, this, &TfrmAdvanceSearch::saveSearchClick);

    m_searchGrid = new QTableWidget(page);
    m_searchGrid->setObjectName(QStringLiteral("searchGrid"));
    m_searchGrid->setColumnCount(kColumns);
    QStringList headers;
    for (const char16_t* header : kHeaders)
        headers << QString::fromUtf16(header);
    m_searchGrid->setHorizontalHeaderLabels(headers);
    for (int c = 0; c < kColumns; ++c)
        m_searchGrid->setColumnWidth(c, kColumnWidths[c]);
    m_searchGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_searchGrid->verticalHeader()->hide();
    m_searchGrid->verticalHeader()->setMinimumSectionSize(12);
    m_searchGrid->verticalHeader()->setDefaultSectionSize(20);
    m_searchGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_searchGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_searchGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_searchGrid->setItemDelegate(new TTextColourDelegate(m_searchGrid));
    m_searchGrid->setWordWrap(false);
    resetGrid(1);
    connect(m_searchGrid, &QTableWidget::cellClicked, this,
            [this](int row, int) { searchGridClick(row + 1); });

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_resultToolPanel);
    layout->addWidget(m_searchGrid, 1);
    return page;
}

QFrame* TfrmAdvanceSearch::createSearchPanel()
{
    m_searchPanel = new QFrame(this);
    m_searchPanel->setObjectName(QStringLiteral("searchPanel"));
    m_searchPanel->setFrameShape(QFrame::StyledPanel);
    m_searchLabel = valueLabel(m_searchPanel, "searchLabel");
    m_finishSearch = valueLabel(m_searchPanel, "finishSearch");
    m_selNums = valueLabel(m_searchPanel, "selNums", QString::number(m_searchPageSel->value()));
    m_searchProgress = bar(m_searchPanel, "searchProgress");
    m_searchGauge = bar(m_searchPanel, "searchGauge");
    m_searchGauge->setTextVisible(false);
    auto* cancel = new QPushButton(QStringLiteral("取 消"), m_searchPanel);
    cancel->setObjectName(QStringLiteral("cancelSearch"));
    connect(cancel, &QPushButton::clicked, this, &TfrmAdvanceSearch::cancelSearchClick);
    connect(m_searchPageSel, &QSlider::valueChanged, this, [this](int value) {
        m_selCount->setText(QString::number(value));
        m_selNums->setText(QString::number(value));
    });

    auto* grid = new QGridLayout(m_searchPanel);
    grid->addWidget(new QLabel(QStringLiteral("共搜索到："), m_searchPanel), 0, 0);
    grid->addWidget(m_searchLabel, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("已完成："), m_searchPanel), 0, 2);
    grid->addWidget(m_finishSearch, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("搜索范围："), m_searchPanel), 0, 4);
    grid->addWidget(m_selNums, 0, 5);
    grid->addWidget(cancel, 0, 7, 2, 1);
    grid->addWidget(m_searchProgress, 1, 0, 1, 6);
    grid->addWidget(m_searchGauge, 2, 0, 1, 6);
    grid->setColumnStretch(6, 1);
    m_searchPanel->hide();
    return m_searchPanel;
}

QFrame* TfrmAdvanceSearch::createExcavatePanel()
{
    m_excavatePanel = new QFrame(this);
    m_excavatePanel->setObjectName(QStringLiteral("excavatePanel"));
    m_excavatePanel->setFrameShape(QFrame::StyledPanel);
    m_savedNum = valueLabel(m_excavatePanel, "savedNum");
    m_totalSaveNum = valueLabel(m_excavatePanel, "totalSaveNum");
    m_curUser = valueLabel(m_excavatePanel, "curUser", QString());
    m_curUser->setMinimumWidth(150);
    m_totalNum = valueLabel(m_excavatePanel, "totalNum");
    m_havedFinishNum = valueLabel(m_excavatePanel, "havedFinishNum");
    m_downGauge = bar(m_excavatePanel, "downGauge");
    m_downGauge->setTextVisible(false);
    m_excavateGauge = bar(m_excavatePanel, "excavateGauge");
    m_saveCancel = new QPushButton(QStringLiteral("取 消"), m_excavatePanel);
    m_saveCancel->setObjectName(QStringLiteral("saveCancel"));
    connect(m_saveCancel, &QPushButton::clicked, this, &TfrmAdvanceSearch::saveCancelClick);

    auto* grid = new QGridLayout(m_excavatePanel);
    auto caption = [this](const QString& text) { return new QLabel(text, m_excavatePanel); };
    grid->addWidget(caption(QStringLiteral("已保存掌柜个数：")), 0, 0);
    grid->addWidget(m_savedNum, 0, 1);
    grid->addWidget(caption(QStringLiteral("共需保存掌柜个数：")), 0, 2);
    grid->addWidget(m_totalSaveNum, 0, 3);
    grid->addWidget(caption(QStringLiteral("当前保存的掌柜：")), 0, 4);
    grid->addWidget(m_curUser, 0, 5);
    grid->addWidget(caption(QStringLiteral("共有交易 信息：")), 1, 0);
    grid->addWidget(m_totalNum, 1, 1);
    grid->addWidget(caption(QStringLiteral("已完成交易信息：")), 1, 2);
    grid->addWidget(m_havedFinishNum, 1, 3);
    grid->addWidget(m_saveCancel, 0, 7, 2, 1);
    grid->addWidget(m_excavateGauge, 2, 0, 1, 6);
    grid->addWidget(m_downGauge, 3, 0, 1, 6);
    grid->setColumnStretch(6, 1);
    m_excavatePanel->hide();
    return m_excavatePanel;
}

void TfrmAdvanceSearch::connectSearchRun()
{
    connect(m_searchRun, &TSearchRun::logLines, this, &TfrmAdvanceSearch::appendLog);
    connect(m_searchRun, &TSearchRun::statusText, this,
            [this](const QString& text) { m_context.setInfo1(text); });
    connect(m_searchRun, &TSearchRun::totalFoundChanged, this,
            [this](int n) { m_searchLabel->setText(count(n)); });
    connect(m_searchRun, &TSearchRun::shopCountChanged, this,
            [this](int n) { m_finishSearch->setText(count(n)); });
    connect(m_searchRun, &TSearchRun::progressChanged, m_searchProgress, &QProgressBar::setValue);
    connect(m_searchRun, &TSearchRun::bytesChanged, this,
            [this](qint64 done, qint64 total) { showBytes(m_searchGauge, done, total); });
    connect(m_searchRun, &TSearchRun::finished, this, &TfrmAdvanceSearch::searchFinished);
    connect(m_searchRun, &TSearchRun::downloadFailed, this,
            [this] { TPrompt::instance().downloadFailed(this); });
    m_context.running().add(*m_searchRun);
}

void TfrmAdvanceSearch::connectMiningRun()
{
    connect(m_miningRun, &TMiningRun::statusText, this,
            [this](const QString& text) { m_context.setInfo1(text); });
    connect(m_miningRun, &TMiningRun::shopStarted, m_curUser, &QLabel::setText);
    connect(m_miningRun, &TMiningRun::totalRatingsChanged, this,
            [this](int n) { m_totalNum->setText(count(n)); });
    connect(m_miningRun, &TMiningRun::ratingsReadChanged, this,
            [this](int n) { m_havedFinishNum->setText(count(n)); });
    connect(m_miningRun, &TMiningRun::shopProgressChanged, m_excavateGauge, &QProgressBar::setValue);
    connect(m_miningRun, &TMiningRun::savedCountChanged, this,
            [this](int n) { m_savedNum->setText(count(n)); });
    connect(m_miningRun, &TMiningRun::totalToSaveChanged, this,
            [this](int n) { m_totalSaveNum->setText(count(n)); });
    connect(m_miningRun, &TMiningRun::bytesChanged, this,
            [this](qint64 done, qint64 total) { showBytes(m_downGauge, done, total); });
    connect(m_miningRun, &TMiningRun::cancelEnabledChanged, m_saveCancel, &QPushButton::setEnabled);
    connect(m_miningRun, &TMiningRun::storeError, this,
            [this](const QString& text) { TPrompt::instance().error(this, text); });
    connect(m_miningRun, &TMiningRun::finished, this, &TfrmAdvanceSearch::miningFinished);
    connect(m_miningRun, &TMiningRun::downloadFailed, this,
            [this] { TPrompt::instance().downloadFailed(this); });
    m_context.running().add(*m_miningRun);
}

SearchCriteria TfrmAdvanceSearch::criteria() const
{
    SearchCriteria c;
    c.shopname = m_shopname->text();
    c.sellername = m_sellername->text();
    c.keybiz = m_keybiz->text();
    c.loc = m_loc->text();
    c.category = m_id->currentIndex();
    for (int n = 0; n < SearchCriteria::kLevels; ++n)
        c.levels[n] = m_ratesum[n]->isChecked();
    c.requested = m_searchPageSel->value();
    return c;
}

bool TfrmAdvanceSearch::busy() const
{
    return m_searchRun->running() || m_miningRun->running();
}

void TfrmAdvanceSearch::searchClick()
{
    const SearchCriteria c = criteria();
    if (!c.acceptable()) {
        TPrompt::instance().information(this, SearchCriteria::refusalMessage());
        return;
    }
    // The window is put in its searching state first: the run may report from start() on.
    resetGrid(1);
    resetSearchPanel();
    m_advancePanel->setEnabled(false);
    m_searchPages->setEnabled(false);
    m_searchPanel->show();
    if (!m_searchRun->start(c, m_context.config())) {
        m_searchPanel->hide();
        m_searchPages->setEnabled(true);
        m_advancePanel->setEnabled(true);
        TPrompt::instance().information(this, SearchCriteria::refusalMessage());
    }
}

void TfrmAdvanceSearch::cancelSearchClick()
{
    if (m_searchRun->running())
        m_searchRun->cancel();
}

void TfrmAdvanceSearch::searchFinished(const QList<ShopRow>& shops)
{
    m_searchPages->setEnabled(true);
    fillResultGrid(shops);
    m_context.hideBackgroundProgress();
    m_advancePanel->setEnabled(true);
    m_searchPanel->hide();
    resetSearchPanel();
}

void TfrmAdvanceSearch::resetSearchPanel()
{
    m_searchProgress->setValue(0);
    m_searchGauge->setRange(0, 100);
    m_searchGauge->setValue(0);
    m_searchLabel->setText(count(0));
    m_finishSearch->setText(count(0));
}

void TfrmAdvanceSearch::resetExcavatePanel()
{
    m_curUser->clear();
    for (QLabel* label : {m_totalNum, m_havedFinishNum, m_savedNum, m_totalSaveNum})
        label->setText(count(0));
    m_excavateGauge->setValue(0);
    m_downGauge->setRange(0, 100);
    m_downGauge->setValue(0);
}

void TfrmAdvanceSearch::saveSearchClick()
{
    // The browser can send a shop while a search runs; its end would replace the grid under
    // the mining run.
    if (m_searchRun->running()) {
        TPrompt::instance().information(this, kSearchBusyMessage);
        return;
    }
    QList<TMiningRun::Row> rows;
    for (int r = 0; r < m_searchGrid->rowCount(); ++r) {
        auto text = [&](int c) { return m_searchGrid->item(r, c)->text(); };
        QStringList columns;
        for (int c = 2; c < kColumns; ++c)
            columns << text(c);
        rows << TMiningRun::Row{text(1) == kMark && !text(0).isEmpty(), ShopRow::fromColumns(columns)};
    }

    resetExcavatePanel();
    m_saveCancel->setEnabled(true);
    m_searchPages->setEnabled(false);
    m_resultToolPanel->setEnabled(false);
    m_excavatePanel->show();
    const TMiningRun::StartResult result = m_miningRun->start(
        rows, m_fromData->value(), m_toData->value(), m_context.config(), m_newOnlyCheck->isChecked());
    if (result == TMiningRun::StartResult::Started)
        return;

    m_excavatePanel->hide();
    m_searchPages->setEnabled(true);
    m_resultToolPanel->setEnabled(true);
    switch (result) {
    case TMiningRun::StartResult::SaverBusy:
        TPrompt::instance().information(this, TMiningRun::saverBusyMessage());
        break;
    case TMiningRun::StartResult::NoMarkedRow:
        TPrompt::instance().information(this, TMiningRun::noMarkedRowMessage());
        break;
    case TMiningRun::StartResult::StoreFailed:
    case TMiningRun::StartResult::RunBusy:
        TPrompt::instance().error(this, m_miningRun->error());
        break;
    case TMiningRun::StartResult::Started:
    case TMiningRun::StartResult::UnknownRun:
    case TMiningRun::StartResult::NothingLeft:
        break;
    }
}

void TfrmAdvanceSearch::saveCancelClick()
{
    if (m_miningRun->running())
        m_miningRun->cancel();
}

void TfrmAdvanceSearch::miningFinished()
{
    m_context.hideBackgroundProgress();
    m_excavatePanel->hide();
    m_resultToolPanel->setEnabled(true);
    m_searchPages->setEnabled(true);
}

void TfrmAdvanceSearch::resetGrid(int rows)
{
    m_searchGrid->clearContents();
    m_searchGrid->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem;
            // Odd grid rows (1, 3, ...; model rows 0, 2, ...) are tinted.
            if (r % 2 == 0)
                item->setBackground(kOddRowTint);
            m_searchGrid->setItem(r, c, item);
        }
    }
}

void TfrmAdvanceSearch::fillResultGrid(const QList<ShopRow>& shops)
{
    resetGrid(std::max<int>(1, static_cast<int>(shops.size())));
    for (int i = 0; i < shops.size(); ++i) {
        m_searchGrid->item(i, 0)->setText(QString::number(i + 1));
        const QStringList columns = shops[i].columns();
        for (int c = 2; c < kColumns; ++c)
            m_searchGrid->item(i, c)->setText(columns.value(c - 2));
    }
}

bool TfrmAdvanceSearch::hasResults() const
{
    return !m_searchGrid->item(0, 0)->text().isEmpty();
}

void TfrmAdvanceSearch::setMark(int gridRow, bool marked)
{
    const int r = gridRow - 1;
    m_searchGrid->item(r, 1)->setText(marked ? kMark : QString());
    for (int c = 0; c < kColumns; ++c) {
        QTableWidgetItem* item = m_searchGrid->item(r, c);
        if (marked)
            item->setForeground(kMarkedText);
        else
            item->setData(Qt::ForegroundRole, QVariant());
    }
}

void TfrmAdvanceSearch::setRowMarked(int row, bool marked)
{
    if (row >= 1 && row <= m_searchGrid->rowCount() && !m_searchGrid->item(row - 1, 0)->text().isEmpty())
        setMark(row, marked);
}

void TfrmAdvanceSearch::mineShops(const QList<ShopRow>& shops)
{
    // A run under way keeps its grid: the shops it searches or mines belong there.
    if (busy()) {
        TPrompt::instance().information(this, m_searchRun->running() ? kSearchBusyMessage
                                                                     : TMiningRun::saverBusyMessage());
        return;
    }
    m_searchPages->setCurrentIndex(1);
    fillResultGrid(shops);
    for (int row = 1; row <= shops.size(); ++row)
        setRowMarked(row, true);
    m_infoDetailCheck->setChecked(true);
    saveSearchClick();
}

void TfrmAdvanceSearch::searchGridClick(int row)
{
    // The empty row of a grid without results is not a shop to mark.
    if (row < 1 || row > m_searchGrid->rowCount() || m_searchGrid->item(row - 1, 0)->text().isEmpty())
        return;
    setMark(row, m_searchGrid->item(row - 1, 1)->text() != kMark);
}

void TfrmAdvanceSearch::markAll(bool marked)
{
    if (!hasResults())
        return;
    for (int row = 1; row <= m_searchGrid->rowCount(); ++row)
        setMark(row, marked);
}

QStringList TfrmAdvanceSearch::logLines() const
{
    const QString text = m_searchList->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

void TfrmAdvanceSearch::appendLog(const QStringList& lines)
{
    for (const QString& line : lines)
        m_searchList->appendPlainText(line);
}

void TfrmAdvanceSearch::clearHistoryClick()
{
    m_searchList->clear();
}

void TfrmAdvanceSearch::saveHistoryClick()
{
    std::string bytes;
    for (const QString& line : logLines())
        bytes += gbk::fromQString(line) + "\r\n";
    // Written aside and renamed, so a failed write never leaves half a history behind.
    QSaveFile file(Paths::searchHistoryFile());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0 ||
        !file.commit()) {
        TPrompt::instance().error(this, QStringLiteral("无法保存搜索历史：") + file.errorString());
    }
}

void TfrmAdvanceSearch::loadHistoryClick()
{
    QFile file(Paths::searchHistoryFile());
    if (!file.open(QIODevice::ReadOnly)) {
        TPrompt::instance().error(this, QStringLiteral("无法打开搜索历史：") + file.errorString());
        return;
    }
    const QByteArray bytes = file.readAll();
    QStringList lines =
        gbk::toQString(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size()))).split(u'\n');
    // Each line ends with CR LF; the text after the last one is not a line.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    m_searchList->clear();
    appendLog(lines);
}

bool TfrmAdvanceSearch::FormCloseQuery()
{
    if (!m_context.running().saving())
        return true;
    TPrompt::instance().information(this, QStringLiteral("正在保存信息，请稍候再关闭窗口!"));
    return false;
}

void TfrmAdvanceSearch::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

std::optional<int> TfrmAdvanceSearch::backgroundProgress() const
{
    // The view is hidden while another one is shown, so ask the panel about itself only.
    return m_searchPanel->isHidden() ? m_excavateGauge->value() : m_searchProgress->value();
}
