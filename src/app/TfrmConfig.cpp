#include "app/TfrmConfig.h"

#include "extract/TThreadHttp.h"
#include "settings/Paths.h"
#include "settings/Settings.h"
#include "settings/TConfig.h"
#include "store/DatabaseChoice.h"
#include "store/TDM.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace {
// A field with its caption as buddy, the caption named for the tests; the label belongs to the
// layout's widget.
void addLabelledRow(QFormLayout* layout, const char* name, const QString& caption, QWidget* field)
{
    auto* label = new QLabel(caption, layout->parentWidget());
    label->setObjectName(QLatin1String(name));
    label->setBuddy(field);
    layout->addRow(label, field);
}

constexpr int kHttpProxy = 1;

QLineEdit* newField(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    return field;
}

QPushButton* newButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

// A host name or an IPv4 address, or an IPv6 address in brackets: what the proxy setting of a
// download takes without reading a scheme, a port or a path out of it.
bool plainHost(const QString& server)
{
    static const QRegularExpression host(QStringLiteral(R"(^(?:[A-Za-z0-9_.-]+|\[[0-9A-Fa-f:.]+\])$)"));
    return host.match(server).hasMatch();
}

} // namespace

TfrmConfig::TfrmConfig(TViewContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_agentP(new QWidget(this)), m_btnPanel(new QWidget(this)),
      m_netType(new QComboBox(m_agentP)), m_server(newField(m_agentP, "server")),
      m_port(newField(m_agentP, "port")), m_user(newField(m_agentP, "user")),
      m_password(newField(m_agentP, "password")), m_domain(newField(m_agentP, "domain")),
      m_connections(newField(this, "connections")), m_retries(newField(this, "retries")),
      m_retryDelay(newField(this, "retryDelay")), m_pageDelay(newField(this, "pageDelay")),
      m_ok(newButton(m_btnPanel, "btnOk", QStringLiteral("确定"))),
      m_cancel(newButton(m_btnPanel, "btnCancel", QStringLiteral("取消"))),
      m_apply(newButton(m_btnPanel, "btnApply", QStringLiteral("应用"))),
      m_test(newButton(this, "btnTest", QStringLiteral("连接测试"))),
      m_stopTest(newButton(this, "btnStopTest", QStringLiteral("中止测试"))), m_testState(new QLabel(this)),
      m_testGauge1(new QProgressBar(this))
{
    setObjectName(QStringLiteral("frmConfig"));
    setWindowTitle(QStringLiteral("选项"));
    setModal(true);

    m_agentP->setObjectName(QStringLiteral("agentP"));
    m_btnPanel->setObjectName(QStringLiteral("btnPanel"));
    m_netType->setObjectName(QStringLiteral("netType"));
    m_netType->addItems({QStringLiteral("不使用网络代理"), QStringLiteral("使用HTTP代理")});
    m_password->setEchoMode(QLineEdit::Password);
    m_port->setMaxLength(10);

    auto* fields = new QFormLayout(m_agentP);
    auto addRow = [&](const char* name, const QString& caption, QWidget* field) {
        addLabelledRow(fields, name, caption, field);
    };
    addRow("lblNetType", QStringLiteral("类型"), m_netType);
    addRow("lblServer", QStringLiteral("服务器"), m_server);
    addRow("lblPort", QStringLiteral("端口"), m_port);
    addRow("lblUser", QStringLiteral("用户名"), m_user);
    addRow("lblPassword", QStringLiteral("密码"), m_password);
    addRow("lblDomain", QStringLiteral("域"), m_domain);

    m_testState->setObjectName(QStringLiteral("testState"));
    m_testGauge1->setObjectName(QStringLiteral("testGauge1"));
    m_testGauge1->setRange(0, 100);
    m_testGauge1->setTextVisible(false);
    m_testState->hide();
    m_testGauge1->hide();
    m_stopTest->hide();

    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("proxyPage"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addWidget(m_agentP);
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(m_test);
    testRow->addWidget(m_stopTest);
    testRow->addWidget(m_testGauge1, 1);
    pageLayout->addLayout(testRow);
    pageLayout->addWidget(m_testState);
    pageLayout->addStretch(1);
    auto* pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("pages"));
    pages->addTab(page, QStringLiteral("代理设置"));

    auto* downloads = new QWidget;
    downloads->setObjectName(QStringLiteral("downloadPage"));
    auto* downloadFields = new QFormLayout(downloads);
    auto addDownloadRow = [&](const char* name, const QString& caption, QLineEdit* field) {
        field->setParent(downloads);
        field->setMaxLength(7);
        addLabelledRow(downloadFields, name, caption, field);
    };
    addDownloadRow("lblConnections", QStringLiteral("同时连接数（1-16）"), m_connections);
    addDownloadRow("lblRetries", QStringLiteral("失败重试次数（0-10）"), m_retries);
    addDownloadRow("lblRetryDelay", QStringLiteral("重试等待毫秒（0-600000）"), m_retryDelay);
    addDownloadRow("lblPageDelay", QStringLiteral("页面间隔毫秒（0-600000）"), m_pageDelay);
    pages->addTab(downloads, QStringLiteral("下载设置"));
    pages->addTab(newDatabasePage(), QStringLiteral("数据库"));

    auto* buttons = new QHBoxLayout(m_btnPanel);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_apply);
    m_ok->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addWidget(m_btnPanel);
    setMinimumWidth(420);

    fillFields(*context.config().Agent());
    const NetSettings& net = context.config().Net();
    m_connections->setText(QString::number(net.Connections));
    m_retries->setText(QString::number(net.Retries));
    m_retryDelay->setText(QString::number(net.RetryDelay));
    m_pageDelay->setText(QString::number(net.PageDelay));
    m_apply->setEnabled(false);
    connect(m_netType, &QComboBox::currentIndexChanged, this, &TfrmConfig::fieldChanged);
    for (QLineEdit* field : {m_server, m_port, m_user, m_password, m_domain, m_connections, m_retries,
                             m_retryDelay, m_pageDelay})
        connect(field, &QLineEdit::textChanged, this, &TfrmConfig::fieldChanged);

    connect(m_ok, &QPushButton::clicked, this, &TfrmConfig::okClick);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_apply, &QPushButton::clicked, this, &TfrmConfig::applyClick);
    connect(m_test, &QPushButton::clicked, this, &TfrmConfig::testClick);
    connect(m_stopTest, &QPushButton::clicked, this, &TfrmConfig::stopTestClick);

    connect(&m_sink, &THttpEventSink::status, this, &TfrmConfig::onTestStatus);
    connect(&m_sink, &THttpEventSink::failed, this, &TfrmConfig::testDownloadFailed);
    connect(&m_sink, &THttpEventSink::workBegin, this, [this](TThreadHttp* w, HttpWorkMode, qint64 expected) {
        if (w != m_testWorker || !m_testRunning)
            return;
        // An unknown size shows a busy bar.
        m_testGauge1->setRange(0, static_cast<int>(std::min<qint64>(expected, INT_MAX)));
        m_testGauge1->setValue(0);
    });
    connect(&m_sink, &THttpEventSink::work, this, [this](TThreadHttp* w, HttpWorkMode, qint64 count) {
        if (w == m_testWorker && m_testRunning && m_testGauge1->maximum() > 0)
            m_testGauge1->setValue(static_cast<int>(std::min<qint64>(count, m_testGauge1->maximum())));
    });
    connect(&m_sink, &THttpEventSink::workEnd, this, [this](TThreadHttp* w, HttpWorkMode) {
        if (w != m_testWorker || !m_testRunning)
            return;
        if (m_testGauge1->maximum() == 0)
            m_testGauge1->setRange(0, 100);
        m_testGauge1->setValue(m_testGauge1->maximum());
    });
}

TfrmConfig::~TfrmConfig()
{
    // The download runs to its end on its own; its events are dropped with the sink.
    if (m_testWorker)
        m_testWorker->Terminate();
}

QWidget* TfrmConfig::newDatabasePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("databasePage"));
    auto* fields = new QFormLayout(page);
    // Read-only: an address typed here could carry a password into the file, and the store
    // cannot change under open views.
    QLineEdit* url = newField(page, "databaseUrl");
    url->setReadOnly(true);
    url->setPlaceholderText(QString::fromUtf16(kNoServerSet));
    addLabelledRow(fields, "lblDatabaseUrl", QStringLiteral("服务器地址"), url);
    auto* inUse = new QLabel(page);
    inUse->setObjectName(QStringLiteral("databaseInUse"));
    inUse->setWordWrap(true);
    addLabelledRow(fields, "lblDatabaseInUse", QStringLiteral("正在使用"), inUse);
    auto* problem = new QLabel(page);
    problem->setObjectName(QStringLiteral("databaseProblem"));
    problem->setWordWrap(true);
    fields->addRow(problem);
    auto* note = new QLabel(QString::fromUtf16(kDatabaseNote), page);
    note->setObjectName(QStringLiteral("databaseNote"));
    note->setWordWrap(true);
    fields->addRow(note);

    // The file as it stands now, which is what the next start reads.
    QString readError;
    const std::optional<QString> configured = settings::databaseUrl(Paths::configFile(), &readError);
    if (!configured) {
        problem->setText(readError);
    } else {
        url->setText(TConnection::isServerAddress(*configured) ? databasechoice::shown(*configured)
                                                               : databasechoice::shownRefused(*configured));
        problem->setText(databasechoice::choose(QString(), *configured, QString()).error);
    }
    problem->setVisible(!problem->text().isEmpty());
    const QString store = databasechoice::describe(m_context.dm().adoCn);
    inUse->setText(store.isEmpty() ? QStringLiteral("数据库未打开") : store);
    return page;
}

void TfrmConfig::fillFields(const THttpAgent& agent)
{
    m_netType->setCurrentIndex(agent.AgentType == kHttpProxy ? kHttpProxy : 0);
    m_server->setText(agent.Server);
    m_port->setText(QString::number(agent.Port));
    m_user->setText(agent.User);
    m_password->setText(agent.Password);
    m_domain->setText(agent.Domain);
}

void TfrmConfig::fieldChanged()
{
    m_apply->setEnabled(true);
}

TfrmConfig::Checked TfrmConfig::checkFields() const
{
    Checked checked;
    const bool proxy = m_netType->currentIndex() == kHttpProxy;
    const QString server = m_server->text().trimmed();
    if (proxy && server.isEmpty()) {
        checked.message = QString::fromUtf16(kNoServer);
        checked.focus = m_server;
        return checked;
    }
    const std::optional<int> port = text::toInt(m_port->text().trimmed().toStdString());
    if (!port) {
        checked.portNotNumber = true;
        checked.focus = m_port;
        return checked;
    }
    // Only the proxy in use must be reachable; with no proxy the other fields are kept as typed.
    if (proxy) {
        if (*port < 1 || *port > 65535) {
            checked.message = QString::fromUtf16(kBadPort);
            checked.focus = m_port;
            return checked;
        }
        if (!plainHost(server)) {
            checked.message = QString::fromUtf16(kBadServer);
            checked.focus = m_server;
            return checked;
        }
    }
    checked.agent = fieldsAgent(*port);
    return checked;
}

QString TfrmConfig::rangeMessage(const QString& caption, int low, int high)
{
    return QStringLiteral("保存失败，“%1”须为%2到%3的整数！").arg(caption).arg(low).arg(high);
}

std::optional<NetSettings> TfrmConfig::checkNetFields(QString& message, QWidget*& focus) const
{
    NetSettings net;
    struct Field
    {
        QLineEdit* edit;
        const char* caption;
        int low, high;
        int* out;
    };
    const Field fields[] = {
        {m_connections, "同时连接数", 1, NetSettings::kMaxConnections, &net.Connections},
        {m_retries, "失败重试次数", 0, NetSettings::kMaxRetries, &net.Retries},
        {m_retryDelay, "重试等待毫秒", 0, NetSettings::kMaxDelayMs, &net.RetryDelay},
        {m_pageDelay, "页面间隔毫秒", 0, NetSettings::kMaxDelayMs, &net.PageDelay},
    };
    for (const Field& f : fields) {
        const QString text = f.edit->text().trimmed();
        // Whole numbers of plain digits only, as the file is read.
        const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                                           [](QChar c) { return c >= u'0' && c <= u'9'; });
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!digits || !ok || value < f.low || value > f.high) {
            message = rangeMessage(QString::fromUtf8(f.caption), f.low, f.high);
            focus = f.edit;
            return std::nullopt;
        }
        *f.out = value;
    }
    return net;
}

THttpAgent TfrmConfig::fieldsAgent(int port) const
{
    THttpAgent agent;
    agent.AgentType = m_netType->currentIndex();
    agent.Server = m_server->text().trimmed();
    agent.Port = port;
    // The file keeps no blanks around a value: in force now is what the next start reads.
    agent.User = m_user->text().trimmed();
    agent.Password = m_password->text().trimmed();
    agent.Domain = m_domain->text().trimmed();
    return agent;
}

bool TfrmConfig::applyClick()
{
    const Checked checked = checkFields();
    if (!checked.agent) {
        if (checked.portNotNumber && m_netType->currentIndex() != kHttpProxy) {
            // With no proxy the port means nothing: it becomes 0, stored by the next click.
            m_port->setText(QStringLiteral("0"));
            return false;
        }
        TPrompt::instance().information(this, checked.portNotNumber ? QString::fromUtf16(kBadPort)
                                                                    : checked.message);
        if (checked.focus)
            checked.focus->setFocus();
        return false;
    }
    QString netMessage;
    QWidget* netFocus = nullptr;
    const std::optional<NetSettings> net = checkNetFields(netMessage, netFocus);
    if (!net) {
        TPrompt::instance().information(this, netMessage);
        // The field is on the downloads page: show it, then put the cursor there.
        if (auto* pages = findChild<QTabWidget*>(QStringLiteral("pages")))
            pages->setCurrentWidget(netFocus->parentWidget());
        netFocus->setFocus();
        return false;
    }
    QString error;
    if (!settings::saveNet(Paths::configFile(), *checked.agent, *net, &error)) {
        // Never in force unless stored: the file and the running program agree.
        qWarning("kestrova: cannot write %s: %s", qPrintable(Paths::configFile()), qPrintable(error));
        TPrompt::instance().error(this, QString::fromUtf16(kSaveFailed));
        return false;
    }
    m_context.config().SetAgent(std::make_shared<const THttpAgent>(*checked.agent));
    m_context.config().SetNet(*net);
    m_apply->setEnabled(false);
    return true;
}

void TfrmConfig::okClick()
{
    applyClick();
    accept();
}

void TfrmConfig::setTesting(bool testing)
{
    m_agentP->setEnabled(!testing);
    m_btnPanel->setEnabled(!testing);
    m_test->setEnabled(!testing);
    m_testGauge1->setVisible(testing);
    m_stopTest->setVisible(testing);
}

void TfrmConfig::testClick()
{
    setTesting(true);
    m_testGauge1->setRange(0, 100);
    m_testGauge1->setValue(0);
    m_testState->clear();

    // Nothing is stored: the test builds a temporary agent from the fields.
    const Checked checked = checkFields();
    const std::optional<int> port = text::toInt(m_port->text().trimmed().toStdString());
    // An empty proxy server is left to the download, which reports it as a failed download.
    const bool noServer = !checked.agent && checked.message == QString::fromUtf16(kNoServer);
    if (!port || (!checked.agent && !noServer)) {
        setTesting(false);
        m_testState->setText(QString::fromUtf16(kTestFailed));
        m_testState->show();
        if (port)
            TPrompt::instance().information(
                this, QString::fromUtf16(checked.focus == m_port ? kTestBadPort : kTestBadServer));
        return;
    }
    const THttpAgent agent = checked.agent ? *checked.agent : fieldsAgent(*port);
    if (m_testWorker)
        m_testWorker->Terminate();
    m_testRunning = true;
    m_testWorker = TThreadHttp::Create(gbk::fromQString(m_context.config().Market().TestUrl),
                                       std::make_shared<const THttpAgent>(agent), &m_sink);
}

void TfrmConfig::stopTestClick()
{
    if (m_testWorker)
        m_testWorker->Terminate();
    m_testRunning = false;
    m_testState->setText(QString::fromUtf16(kTestStopped));
    m_testState->show();
    setTesting(false);
}

void TfrmConfig::onTestStatus(TThreadHttp* worker, HttpStatus kind, const QString&)
{
    // Only the last test speaks; a stopped one still reports how it ended.
    if (worker != m_testWorker || kind != HttpStatus::Disconnected || !worker->Ended())
        return;
    m_testRunning = false;
    m_testState->setText(worker->ResultCode() == TThreadHttp::kFailedCode ? QString::fromUtf16(kTestFailed)
                                                                          : QString::fromUtf16(kTestPassed));
    m_testState->show();
    setTesting(false);
}
