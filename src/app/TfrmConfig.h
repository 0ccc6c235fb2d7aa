#pragma once

#include "extract/THttpEventSink.h"
#include "settings/NetSettings.h"
#include "settings/THttpAgent.h"

#include <QDialog>
#include <QPointer>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class TThreadHttp;
class TViewContext;

// The options dialog ("选项"): edits the proxy settings and the download settings ([Net]
// Connections, Retries, RetryDelay, PageDelay), stores them in the configuration file and
// makes them current for the downloads that start afterwards, and tests a connection with
// the settings being edited on a download of its own. Its database page shows the server
// of [Database] Url (without its password), which is only read at start, and the store in use.
// Modal, created for each use. UI thread only; the test download runs on its worker thread.
class TfrmConfig : public QDialog
{
    Q_OBJECT

public:
    static constexpr char16_t kNoServer[] = u"保存失败，请输入服务器名！";
    static constexpr char16_t kBadPort[] = u"保存失败，请正确输入端口！";
    static constexpr char16_t kBadServer[] =
        u"保存失败，服务器名只填主机名或IP地址，不能含空格、“http://”或路径！";
    static constexpr char16_t kSaveFailed[] = u"保存配置文件出错！";
    // A download setting out of its range: the field's caption and its bounds.
    static QString rangeMessage(const QString& caption, int low, int high);
    static constexpr char16_t kTestFailed[] = u"网络连接失败！";
    static constexpr char16_t kTestPassed[] = u"测试连接成功！";
    static constexpr char16_t kTestStopped[] = u"连接中止！";
    // The connection test stores nothing: its own words for fields it cannot use.
    static constexpr char16_t kTestBadPort[] = u"无法测试，请正确输入端口！";
    static constexpr char16_t kTestBadServer[] =
        u"无法测试，服务器名只填主机名或IP地址，不能含空格、“http://”或路径！";
    // The database page: the file is used when no server is set; a change takes effect at the
    // next start.
    static constexpr char16_t kNoServerSet[] = u"未设置，使用数据文件";
    static constexpr char16_t kDatabaseNote[] =
        u"数据库服务器在 config.ini 的 [Database] Url 中设置（postgresql://用户@主机:端口/数据库），"
        u"下次启动时生效；启动参数 --database 优先。";

    explicit TfrmConfig(TViewContext& context, QWidget* parent = nullptr);
    ~TfrmConfig() override;

    // "应用": checks the fields, stores them and makes them current; false when refused or
    // when the file could not be written (the previous settings stay in force).
    bool applyClick();
    void okClick();
    void testClick();
    void stopTestClick();

signals:
    // A test download failed (also one stopped meanwhile); the window tells the user.
    void testDownloadFailed();

private:
    // The fields as settings, or why not (one of the messages above; empty for a port that is
    // not a number, which has its own handling).
    struct Checked
    {
        std::optional<THttpAgent> agent;
        QString message;
        QWidget* focus = nullptr;
        bool portNotNumber = false;
    };
    Checked checkFields() const;
    // The download fields as settings, or the refusal naming the field.
    std::optional<NetSettings> checkNetFields(QString& message, QWidget*& focus) const;
    THttpAgent fieldsAgent(int port) const;
    void fillFields(const THttpAgent& agent);
    void fieldChanged();
    void setTesting(bool testing);
    QWidget* newDatabasePage();
    void onTestStatus(TThreadHttp* worker, HttpStatus kind, const QString& text);

    TViewContext& m_context;
    THttpEventSink m_sink;
    QPointer<TThreadHttp> m_testWorker;
    bool m_testRunning = false;

    QWidget* m_agentP;
    QWidget* m_btnPanel;
    QComboBox* m_netType;
    QLineEdit* m_server;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_domain;
    QLineEdit* m_connections;
    QLineEdit* m_retries;
    QLineEdit* m_retryDelay;
    QLineEdit* m_pageDelay;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_apply;
    QPushButton* m_test;
    QPushButton* m_stopTest;
    QLabel* m_testState;
    QProgressBar* m_testGauge1;
};
