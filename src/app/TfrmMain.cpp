#include "app/TfrmMain.h"

#include "app/StartPage.h"
#include "app/TForm2.h"
#include "app/THelpWindow.h"
#include "app/TViewHost.h"
#include "app/TfrmAbout.h"
#include "app/ViewFactory.h"
#include "mining/views/TfrmAdvanceSearch.h"
#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/DatabaseChoice.h"
#include "store/TDM.h"
#include "store/TSchemaBuild.h"
#include "ui/TPrompt.h"
#include "ui/TView.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace {
const QString kCaptionPrefix = QStringLiteral("Kestrova--");
} // namespace

TfrmMain::TfrmMain(QWidget* parent)
    : QMainWindow(parent), m_dm(std::make_unique<TDM>()), m_mainMenu(new QMenuBar(this)),
      m_mainTools(new QToolBar(this)), m_fd1(new TViewHost(this)), m_info1(new QLabel(this)),
      m_gauge1(new QProgressBar(this)), m_dataInfo(new QLabel(this)), m_storeInfo(new QLabel(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kestrova"));
    resize(1024, 700);
    createMenus();
    createToolBar();
    createStatusBar();
    setCentralWidget(m_fd1);

    m_progressTimer.setInterval(1000);
    connect(&m_progressTimer, &QTimer::timeout, this, &TfrmMain::progressTick);
}

TfrmMain::~TfrmMain()
{
    // The views read the data module's cursors, so they go before it.
    delete m_fd1;
}

void TfrmMain::createMenus()
{
    m_mainMenu->setObjectName(QStringLiteral("mainMenu"));
    // The bar rule hides and shows this bar; a global menu of the desktop would not follow.
    m_mainMenu->setNativeMenuBar(false);
    setMenuBar(m_mainMenu);

    QMenu* data = m_mainMenu->addMenu(QStringLiteral("数据(&F)"));
    data->setObjectName(QStringLiteral("mnuData"));
    connect(addItem(data, "miSearch", QStringLiteral("查找掌柜(&L)")), &QAction::triggered, this,
            [this] { showView(ViewId::Search); });
    connect(addItem(data, "miBrowser", QStringLiteral("掌柜资料(&V)")), &QAction::triggered, this,
            [this] { showView(ViewId::Browser); });
    // The browser connects its export handlers to these items when it is created.
    m_exportShop = data->addMenu(QStringLiteral("导出掌柜数据"));
    m_exportShop->setObjectName(QStringLiteral("mnuExportShop"));
    m_exportItems[0] = addItem(m_exportShop, "miExportShopExcel", QStringLiteral("导出为excel"));
    m_exportItems[1] = addItem(m_exportShop, "miExportShopCsv", QStringLiteral("导出为csv"));
    m_exportTrade = data->addMenu(QStringLiteral("导出交易数据"));
    m_exportTrade->setObjectName(QStringLiteral("mnuExportTrade"));
    m_exportItems[2] = addItem(m_exportTrade, "miExportTradeExcel", QStringLiteral("导出为excel"));
    m_exportItems[3] = addItem(m_exportTrade, "miExportTradeCsv", QStringLiteral("导出为csv"));
    data->addSeparator();
    connect(addItem(data, "miExit", QStringLiteral("退出(&X)")), &QAction::triggered, this, &QWidget::close);

    QMenu* analysis = m_mainMenu->addMenu(QStringLiteral("分析(&S)"));
    analysis->setObjectName(QStringLiteral("mnuAnalysis"));
    m_miRank = addItem(analysis, "miRank", QStringLiteral("商品排行"));
    m_miTrend = addItem(analysis, "miTrend", QStringLiteral("销售走势"));
    m_miDist = addItem(analysis, "miDist", QStringLiteral("时间分布"));
    connect(m_miRank, &QAction::triggered, this, [this] { showView(ViewId::Rank); });
    connect(m_miTrend, &QAction::triggered, this, [this] { showView(ViewId::Trend); });
    connect(m_miDist, &QAction::triggered, this, [this] { showView(ViewId::Dist); });
    analysis->addSeparator();
    connect(addItem(analysis, "miCompare", QStringLiteral("对比")), &QAction::triggered, this,
            [this] { showView(ViewId::Compare); });
    connect(addItem(analysis, "miChanges", QStringLiteral("动态")), &QAction::triggered, this,
            [this] { showView(ViewId::Changes); });

    QMenu* tools = m_mainMenu->addMenu(QStringLiteral("工具"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    m_miIndex = addItem(tools, "miIndex", QStringLiteral("导航页"));
    connect(m_miIndex, &QAction::triggered, this, [this] { showView(ViewId::Index); });
    tools->addSeparator();
    m_menuBarItems[0] = addItem(tools, "miMenuBar", QStringLiteral("菜单栏"));
    m_toolBarItems[0] = addItem(tools, "miToolBar", QStringLiteral("工具栏"));
    tools->addSeparator();
    connect(addItem(tools, "miOptions", QStringLiteral("选项")), &QAction::triggered, this,
            &TfrmMain::showOptions);

    QMenu* help = m_mainMenu->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addItem(help, "miHelp", QStringLiteral("帮助")), &QAction::triggered, this,
            [this] { openHelp(); });
    connect(addItem(help, "miAbout", QStringLiteral("关于...")), &QAction::triggered, this,
            &TfrmMain::showAbout);

    // The pop-up on both bars mirrors the two bar items of the tools menu.
    m_barPopup = new QMenu(this);
    m_barPopup->setObjectName(QStringLiteral("barPopup"));
    m_menuBarItems[1] = addItem(m_barPopup, "pmMenuBar", QStringLiteral("菜单栏"));
    m_toolBarItems[1] = addItem(m_barPopup, "pmToolBar", QStringLiteral("工具栏"));
    for (QAction* item : m_menuBarItems) {
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, &TfrmMain::toggleMenuBar);
    }
    for (QAction* item : m_toolBarItems) {
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, &TfrmMain::toggleToolBar);
    }
    syncBarChecks();
    m_mainMenu->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_mainMenu, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showBarPopup(m_mainMenu, pos); });
}

void TfrmMain::createToolBar()
{
    m_mainTools->setObjectName(QStringLiteral("mainTools"));
    m_mainTools->setMovable(false);
    m_mainTools->setFloatable(false);
    m_mainTools->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_mainTools, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showBarPopup(m_mainTools, pos); });
    addToolBar(Qt::TopToolBarArea, m_mainTools);

    auto item = [this](const char* name) { return findChild<QAction*>(QLatin1String(name)); };
    addButton("tbSearch", QStringLiteral("查找"), QStringLiteral("在线查找掌柜"), item("miSearch"));
    addButton("tbBrowser", QStringLiteral("资料"), QStringLiteral("掌柜资料"), item("miBrowser"));
    m_mainTools->addSeparator();
    m_analysisButtons[0] = addButton("tbRank", QStringLiteral("排行"), QStringLiteral("销量排名"), m_miRank);
    m_analysisButtons[1] =
        addButton("tbTrend", QStringLiteral("走势"), QStringLiteral("销售额排名"), m_miTrend);
    m_analysisButtons[2] = addButton("tbDist", QStringLiteral("分布"), QString(), m_miDist);
    addButton("tbCompare", QStringLiteral("对比"), QStringLiteral("几个掌柜的销售并排对比"),
              item("miCompare"));
    m_mainTools->addSeparator();
    addButton("tbIndex", QStringLiteral("导航页"), QString(), m_miIndex);
    addButton("tbOptions", QStringLiteral("选项"), QString(), item("miOptions"));
    addButton("tbHelp", QStringLiteral("帮助"), QString(), item("miHelp"));
    addButton("tbAbout", QStringLiteral("关于..."), QString(), item("miAbout"));

    setCommandsAvailable(false);
}

void TfrmMain::createStatusBar()
{
    m_info1->setObjectName(QStringLiteral("info1"));
    m_gauge1->setObjectName(QStringLiteral("gauge1"));
    m_gauge1->setRange(0, 100);
    m_gauge1->setValue(0);
    m_gauge1->setFixedWidth(180);
    m_gauge1->hide();
    m_dataInfo->setObjectName(QStringLiteral("dataInfo"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->addWidget(m_info1, 1);
    statusBar()->addWidget(m_gauge1);
    statusBar()->addPermanentWidget(m_dataInfo);
    m_storeInfo->setObjectName(QStringLiteral("storeInfo"));
    statusBar()->addPermanentWidget(m_storeInfo);
}

QAction* TfrmMain::addItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QToolButton* TfrmMain::addButton(const char* name, const QString& caption, const QString& hint, QAction* item)
{
    auto* button = new QToolButton(m_mainTools);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setToolTip(hint);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, item, &QAction::trigger);
    m_mainTools->addWidget(button);
    return button;
}

bool TfrmMain::FormCreate()
{
    QString error;
    // A new collection starts in an empty folder; a system-wide install starts the user's own.
    if (!Paths::prepareDataDir(&error)) {
        qWarning("kestrova: %s", qPrintable(error));
        TPrompt::instance().error(this, error);
        return false;
    }
    QString configNotice;
    m_config = settings::load(Paths::configFile(), &error, &configNotice);
    if (!m_config) {
        qWarning("kestrova: %s: %s", qPrintable(Paths::configFile()), qPrintable(error));
        TPrompt::instance().error(this, QString::fromUtf16(settings::kFatalMessage));
        return false;
    }
    // Told once, on standard error and in the status bar: a configuration file not understood
    // (the defaults are in force), a mended or read-only database file.
    QStringList notices;
    if (!configNotice.isEmpty()) {
        qWarning("kestrova: %s", qPrintable(configNotice));
        notices << configNotice;
    }
    // A database that cannot be opened is reported; every later action reports its own error.
    // A server asked for that cannot be used is never replaced by the file.
    const databasechoice::Choice choice =
        databasechoice::choose(m_databaseUrl, m_config->DatabaseUrl(), Paths::databaseFile());
    if (!choice.error.isEmpty()) {
        qWarning("kestrova: %s", qPrintable(choice.error));
        TPrompt::instance().error(this, choice.error);
    } else if (const QStringList slow = TSchemaBuild::slowPieces(choice.target); !slow.isEmpty()) {
        startKeyBuild(choice, static_cast<int>(slow.size()), notices);
        return true;
    }
    openDatabase(choice, notices, {});
    return true;
}

void TfrmMain::startKeyBuild(const databasechoice::Choice& choice, int pieces, const QStringList& notices)
{
    m_build = new TSchemaBuild(choice.target, this);
    auto* ticker = new QTimer(m_build);
    auto clock = std::make_shared<QElapsedTimer>();
    auto step = std::make_shared<std::pair<int, QString>>(0, QString());
    auto show = [this, pieces, clock, step] {
        setInfo1(QStringLiteral("正在为分析建立索引（第%1项，共%2项，已用%3秒）：%4")
                     .arg(std::max(step->first, 1))
                     .arg(pieces)
                     .arg(clock->elapsed() / 1000)
                     .arg(step->second));
    };
    connect(m_build, &TSchemaBuild::notice, this, [step, show](const QString& text) {
        ++step->first;
        step->second = text;
        show();
    });
    connect(ticker, &QTimer::timeout, this, show);
    connect(m_build, &TSchemaBuild::done, this, [this, choice, notices] {
        if (m_build->cancelled())
            return; // the program is ending; the next start builds again
        TSchemaBuild* build = std::exchange(m_build, nullptr);
        build->wait();
        const QStringList built = build->mended();
        build->deleteLater();
        setInfo1(QString());
        // A build that failed is tried once more by the open itself, which reports the error.
        openDatabase(choice, notices, built);
        if (const std::optional<ViewId> id = std::exchange(m_waitingView, std::nullopt))
            showView(*id);
    });
    clock->start();
    ticker->start(1000);
    show();
    m_build->start();
}

void TfrmMain::openDatabase(const databasechoice::Choice& choice, QStringList notices,
                            const QStringList& built)
{
    if (choice.error.isEmpty() && !m_dm->DataModuleCreate(choice.target)) {
        QString message = m_dm->OpenError();
        if (choice.origin != databasechoice::Origin::File) {
            // The engine's message may repeat the address; its password stays off the screen.
            message.replace(choice.target, databasechoice::shown(choice.target));
            message.prepend(QStringLiteral("database error: "));
        }
        TPrompt::instance().error(this, message);
    } else if (const QString notice = m_dm->OpenNotice(built); !notice.isEmpty()) {
        notices << notice;
    }
    QString store = startpage::storeText(databasechoice::describe(m_dm->adoCn));
    if (!m_dm->adoCn.isOpen() && !choice.target.isEmpty())
        store += QStringLiteral("：") + databasechoice::shown(choice.target);
    m_storeInfo->setText(store);
    applyRole();
    if (!notices.isEmpty())
        setInfo1(notices.join(u' '));
}

TView* TfrmMain::currentView() const
{
    return m_fd1->current();
}

void TfrmMain::showView(ViewId id)
{
    if (m_build) {
        m_waitingView = id; // every view reads the file, which is not open yet
        return;
    }
    TView*& view = m_views[static_cast<int>(id)];
    // The navigation page is embedded anew, which refreshes it.
    if (view && view == m_fd1->current() && id != ViewId::Index)
        return;
    if (!view)
        view = views::create(id, *this);
    m_fd1->embed(view);
    setWindowTitle(kCaptionPrefix + view->windowTitle());
    setBackgroundProgressShown(id != ViewId::Search);
    emit viewEmbedded(view);
}

void TfrmMain::setCommandsAvailable(bool available)
{
    for (QAction* item : {m_miRank, m_miTrend, m_miDist})
        item->setEnabled(available);
    for (QToolButton* button : m_analysisButtons)
        button->setEnabled(available);
    for (QMenu* menu : {m_exportShop, m_exportTrade}) {
        menu->menuAction()->setEnabled(available);
        for (QAction* item : menu->actions())
            item->setEnabled(available);
    }
}

bool TfrmMain::commandsAvailable() const
{
    return m_analysisButtons[0]->isEnabled();
}

QAction* TfrmMain::exportCommand(ExportCommand command)
{
    return m_exportItems[static_cast<int>(command)];
}

QString TfrmMain::refusal(storeroles::Action action) const
{
    return m_refusals[static_cast<int>(action)];
}

void TfrmMain::applyRole()
{
    TConnection& connection = m_dm->adoCn;
    if (!connection.isOpen() || connection.engine() != TConnection::Engine::Postgres)
        return;
    for (storeroles::Action action :
         {storeroles::Action::Mine, storeroles::Action::DeleteShop, storeroles::Action::EditRatings})
        m_refusals[static_cast<int>(action)] = storeroles::refusal(connection, action);
    const QString mine = refusal(storeroles::Action::Mine);
    if (!mine.isEmpty()) {
        QAction* search = findChild<QAction*>(QStringLiteral("miSearch"));
        search->setEnabled(false);
        search->setToolTip(mine);
        if (auto* menu = findChild<QMenu*>(QStringLiteral("mnuData")))
            menu->setToolTipsVisible(true);
        if (auto* button = findChild<QToolButton*>(QStringLiteral("tbSearch"))) {
            button->setEnabled(false);
            button->setToolTip(mine);
        }
    }
    const bool all = mine.isEmpty() && refusal(storeroles::Action::DeleteShop).isEmpty() &&
                     refusal(storeroles::Action::EditRatings).isEmpty();
    const QString role =
        all ? QStringLiteral("全部权限")
            : (mine.isEmpty() ? QStringLiteral("采集，不能删除或修改") : QStringLiteral("只读"));
    m_storeInfo->setText(m_storeInfo->text() +
                         QStringLiteral(" · 用户 %1（%2）").arg(storeroles::userName(connection), role));
}

void TfrmMain::mineShops(const QList<ShopRow>& shops)
{
    // The browser's re-mine reaches here; a role that may not mine is told, not half-run.
    if (const QString mine = refusal(storeroles::Action::Mine); !mine.isEmpty()) {
        TPrompt::instance().error(this, QStringLiteral("database error: ") + mine);
        return;
    }
    showView(ViewId::Search);
    static_cast<TfrmAdvanceSearch*>(view(ViewId::Search))->mineShops(shops);
}

void TfrmMain::setBackgroundProgressShown(bool shown)
{
    if (!running().downloading())
        return;
    m_gauge1->setVisible(shown);
    if (shown)
        m_progressTimer.start();
    else
        m_progressTimer.stop();
}

void TfrmMain::hideBackgroundProgress()
{
    m_gauge1->hide();
    m_progressTimer.stop();
}

void TfrmMain::progressTick()
{
    if (TView* search = view(ViewId::Search))
        if (std::optional<int> value = search->backgroundProgress())
            m_gauge1->setValue(*value);
}

void TfrmMain::setInfo1(const QString& text)
{
    m_info1->setText(text);
}

void TfrmMain::setDataInfo(const QString& text)
{
    m_dataInfo->setText(text);
}

void TfrmMain::openHelp(const QString& topic)
{
    if (!m_help)
        m_help = new THelpWindow(this);
    m_help->openTopic(topic);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void TfrmMain::toggleMenuBar()
{
    // The two bars are never hidden together.
    if (!m_mainTools->isHidden())
        m_mainMenu->setVisible(m_mainMenu->isHidden());
    syncBarChecks();
}

void TfrmMain::toggleToolBar()
{
    if (!m_mainMenu->isHidden())
        m_mainTools->setVisible(m_mainTools->isHidden());
    syncBarChecks();
}

void TfrmMain::syncBarChecks()
{
    // A checkable item has already flipped itself when triggered; the bars decide.
    for (QAction* item : m_menuBarItems)
        item->setChecked(!m_mainMenu->isHidden());
    for (QAction* item : m_toolBarItems)
        item->setChecked(!m_mainTools->isHidden());
}

void TfrmMain::showBarPopup(QWidget* bar, const QPoint& pos)
{
    m_barPopup->popup(bar->mapToGlobal(pos));
}

void TfrmMain::showOptions()
{
    std::unique_ptr<QDialog> dialog(views::createOptionsDialog(*this));
    TPrompt::instance().exec(dialog.get());
}

void TfrmMain::showAbout()
{
    TfrmAbout about(this);
    TPrompt::instance().exec(&about);
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_firstShow) {
        m_firstShow = false;
        m_miIndex->trigger();
    }
}

bool TfrmMain::askForceQuit(const QString& message)
{
    TForm2 dialog(this);
    dialog.setMessage(message);
    TPrompt::instance().exec(&dialog);
    return dialog.forceQuit();
}

bool TfrmMain::closeQuery()
{
    if (running().saving()) {
        if (!askForceQuit(QString::fromUtf16(kSavingMessage)))
            return false;
        emit forceQuitRequested();
    }
    if (running().downloading())
        return askForceQuit(QString::fromUtf16(kNetBusyMessage));
    return true;
}

void TfrmMain::endForConfigFault()
{
    if (m_configFault)
        return;
    m_configFault = true;
    TPrompt::instance().error(this, QString::fromUtf16(settings::kFatalMessage));
    // Nothing to ask: running downloads and the saver end with the process, as on a forced exit.
    if (running().saving())
        emit forceQuitRequested();
    QTimer::singleShot(0, this, &QWidget::close);
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (!m_configFault && !closeQuery()) {
        event->ignore();
        return;
    }
    // Without settings (start-up failed) there is no file worth touching, nor in a file that
    // could not be used.
    if (m_config && !m_configFault && !settings::writeLoginDate(Paths::configFile()))
        TPrompt::instance().error(this, QString::fromUtf16(settings::kFatalMessage));
    if (m_help)
        m_help->close();
    // A key build under way is given up (its transaction rolled back) as the program ends.
    if (m_build)
        m_build->cancel();
    event->accept();
    emit closed();
}
