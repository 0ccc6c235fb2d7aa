#pragma once

#include "settings/TConfig.h"
#include "store/DatabaseChoice.h"
#include "ui/TViewContext.h"
#include "ui/ViewId.h"

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QToolBar;
class QToolButton;
class TDM;
class TSchemaBuild;
class THelpWindow;
class TView;
class TViewHost;

// The main window: menus, tool bar, status bar and the host that embeds one working view at a
// time. It owns the settings, the data module and every view. UI thread only.
class TfrmMain : public QMainWindow, public TViewContext
{
    Q_OBJECT

public:
    static constexpr char16_t kSavingMessage[] = u"还有数据未保存完毕，\n是否要强行退出系统?";
    static constexpr char16_t kNetBusyMessage[] = u"正在进行网上搜索资料，\n请稍后退出或先中止搜索再退出！";

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // A database server to work on instead of [Database] Url of config.ini (--database); set
    // before FormCreate.
    void setDatabaseUrl(const QString& url) { m_databaseUrl = url; }

    // Loads the configuration and opens the database (a database error is reported and start-up
    // goes on). False after the fatal configuration message: the program must end. A file that
    // lacks the keys over its ratings gets them on a thread while the window shows, with the
    // progress in the status bar; views asked for meanwhile are shown when the file is open.
    bool FormCreate();
    bool buildingKeys() const { return m_build != nullptr; }

    TConfig& config() override { return *m_config; }
    TDM& dm() override { return *m_dm; }
    QWidget* dialogParent() override { return this; }

    // Embeds a view, creating it on first use, and sets the caption. Choosing the view that is
    // shown does nothing, except for the navigation page, which is embedded anew.
    void showView(ViewId id) override;
    // The view object, or nullptr before its first use.
    TView* view(ViewId id) const { return m_views[static_cast<int>(id)]; }
    TView* currentView() const;

    // Enables or disables the three analyses and both export sub-menus together.
    void setCommandsAvailable(bool available) override;
    bool commandsAvailable() const override;
    QAction* exportCommand(ExportCommand command) override;

    // Shows or hides the status-bar gauge with its timer; acts only while a download run is busy.
    void setBackgroundProgressShown(bool shown) override;
    // Hides the gauge and stops its timer whatever runs (a run was cancelled).
    void hideBackgroundProgress() override;

    // Opens the help window at a topic ("::quick.htm" or "quick.htm"); empty: the start topic.
    void openHelp(const QString& topic = QString()) override;

    void mineShops(const QList<ShopRow>& shops) override;
    void endForConfigFault() override;
    QString refusal(storeroles::Action action) const override;

signals:
    // The user forced the exit while ratings are being saved: the saver is asked to stop.
    void forceQuitRequested();
    // The window has closed for good; the last-use date is written.
    void closed();
    // A view was (re-)embedded in the host.
    void viewEmbedded(TView* view);

public slots:
    void setInfo1(const QString& text) override;
    void setDataInfo(const QString& text) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    void createToolBar();
    void createStatusBar();
    QAction* addItem(QMenu* menu, const char* name, const QString& caption);
    QToolButton* addButton(const char* name, const QString& caption, const QString& hint, QAction* item);

    bool closeQuery();
    bool askForceQuit(const QString& message);
    void toggleMenuBar();
    void toggleToolBar();
    void syncBarChecks();
    void showBarPopup(QWidget* bar, const QPoint& pos);
    void progressTick();
    void showOptions();
    void showAbout();
    // Asks the server what its user may do, disables what it may not and names the role in the
    // status bar.
    void applyRole();
    void openDatabase(const databasechoice::Choice& choice, QStringList notices, const QStringList& built);
    void startKeyBuild(const databasechoice::Choice& choice, int pieces, const QStringList& notices);

    std::optional<TConfig> m_config;
    std::unique_ptr<TDM> m_dm;
    std::array<TView*, kViewCount> m_views{};
    bool m_firstShow = true;
    bool m_configFault = false; // the program is ending for its configuration file

    QMenuBar* m_mainMenu;
    QToolBar* m_mainTools;
    TViewHost* m_fd1;
    QLabel* m_info1;
    QProgressBar* m_gauge1;
    QLabel* m_dataInfo;
    QLabel* m_storeInfo; // which database the program is on
    QString m_databaseUrl;
    std::array<QString, 3> m_refusals; // by storeroles::Action
    QTimer m_progressTimer;
    THelpWindow* m_help = nullptr;
    TSchemaBuild* m_build = nullptr;
    std::optional<ViewId> m_waitingView; // asked for during the build

    std::array<QAction*, 4> m_exportItems{};
    QMenu* m_exportShop = nullptr;
    QMenu* m_exportTrade = nullptr;
    QMenu* m_barPopup = nullptr;
    QAction* m_miRank = nullptr;
    QAction* m_miTrend = nullptr;
    QAction* m_miDist = nullptr;
    QAction* m_miIndex = nullptr;
    std::array<QAction*, 2> m_menuBarItems{};
    std::array<QAction*, 2> m_toolBarItems{};
    std::array<QToolButton*, 3> m_analysisButtons{};
};
