#include "settings/Settings.h"

#include "settings/IniFile.h"
#include "text/Formats.h"
#include "text/TextOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace settings {
namespace {

const QString kNet = QStringLiteral("Net");
const QString kMarket = QStringLiteral("Market");
const QString kDatabase = QStringLiteral("Database");
const QString kUrl = QStringLiteral("Url");

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// The file a new data folder gets: every key read, with its default and a word on what it does,
// so that a user of the command line alone finds where a setting goes. ASCII, so the same in GBK.
QByteArray defaultText()
{
    const NetSettings net;
    const MarketSettings m;
    return QStringLiteral(
               "; Kestrova's settings. A line starting with \";\" is a comment; a key left out takes\r\n"
               "; its default. \"kestrova-cli config\" shows the values in force and where each comes "
               "from.\r\n"
               "[Base]\r\nlanguage=chinese\r\nver=3.0\r\n\r\n"
               "; AgentType=1 sends every download through the HTTP proxy Server:Port (User, Password).\r\n"
               "; A failed page is tried again Retries times (0 to 10) after RetryDelay ms, doubled each\r\n"
               "; time; PageDelay ms is the least gap between two pages; Connections (1 to 16) is the\r\n"
               "; most downloads in flight to one host.\r\n"
               "[Net]\r\nAgentType=0\r\nServer=\r\nPort=0\r\nUser=\r\nPassword=\r\nDomain=\r\n"
               "Retries=%1\r\nRetryDelay=%2\r\nPageDelay=%3\r\nConnections=%4\r\n\r\n"
               "[Login]\r\ndate=\r\n\r\n"
               "; Where the marketplace lives; the defaults are the demo marketplace, kestrova-market.\r\n"
               "; Only shop addresses on Domain (that host or a name under it) are mined.\r\n"
               "[Market]\r\nSearchHost=%5\r\nRatingHost=%6\r\nSnapHost=%7\r\nDomain=%8\r\nHomePage=%9\r\n"
               "TestUrl=%10\r\n\r\n"
               "; Url=postgresql://USER@HOST:PORT/DATABASE keeps the collection on a PostgreSQL server\r\n"
               "; instead of the data folder's file; LeaseSeconds is a queue worker's hold on its shop.\r\n"
               "[Database]\r\nLeaseSeconds=%11\r\n"
               "\r\n"
               "; After each mining, \"kestrova-cli changes --alerts\" names the shops that cross a rule\r\n"
               "; below and exits 3. Each is off unless set (remove the \";\"): BadRatings=N new bad\r\n"
               "; ratings; SalesChangePercent=P sales per day up or down by P% against the interval\r\n"
               "; before; CreditDrop=N seller credit points lost; GoodRateDrop=P good-rate points lost.\r\n"
               "[Watch]\r\n"
               ";BadRatings=3\r\n"
               ";SalesChangePercent=50\r\n"
               ";CreditDrop=10\r\n"
               ";GoodRateDrop=0.5\r\n")
        .arg(net.Retries)
        .arg(net.RetryDelay)
        .arg(net.PageDelay)
        .arg(net.Connections)
        .arg(m.SearchHost, m.RatingHost, m.SnapHost, m.Domain, m.HomePage, m.TestUrl)
        .arg(QueueSettings().LeaseSeconds)
        .toLatin1();
}

bool createDefaults(const QString& path, QString* error)
{
    // Owner only from the start: the file may later hold a proxy password.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner)) {
        setError(error, file.errorString());
        return false;
    }
    const QByteArray text = defaultText();
    if (file.write(text) != text.size() || !file.flush()) {
        setError(error, file.errorString());
        file.remove();
        return false;
    }
    file.close();
    return writeLoginDate(path, error);
}

std::optional<int> readInt(const IniFile& ini, const QString& key)
{
    return text::toInt(ini.value(kNet, key, QStringLiteral("0")).toStdString());
}

// A whole number from 0 to max, or the default: a bad value is not fatal and is left in the
// file as it stands.
int readBounded(const IniFile& ini, const QString& key, int max, int fallback, const QString& section = kNet)
{
    const QString raw = ini.value(section, key).trimmed();
    if (raw.isEmpty() || !std::all_of(raw.begin(), raw.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return fallback;
    bool ok = false;
    const int value = raw.toInt(&ok);
    return ok && value <= max ? value : fallback;
}

} // namespace

std::optional<QString> databaseUrl(const QString& path, QString* error)
{
    if (!QFileInfo::exists(path))
        return QString();
    IniFile ini(path);
    if (!ini.load()) {
        setError(error, ini.error());
        return std::nullopt;
    }
    if (!ini.understood())
        return QString();
    return ini.value(kDatabase, kUrl).trimmed();
}

QString notUnderstoodNotice(const QString& path)
{
    return QStringLiteral("配置文件 %1 无法识别，已使用默认设置，文件保持原样。")
        .arg(QDir::toNativeSeparators(path));
}

std::optional<TConfig> load(const QString& path, QString* error, QString* notice)
{
    if (notice)
        notice->clear();
    if (!QFileInfo::exists(path) && !createDefaults(path, error))
        return std::nullopt;
    IniFile ini(path);
    if (!ini.load()) {
        setError(error, ini.error());
        return std::nullopt;
    }
    if (!ini.understood()) {
        // Reading keys out of a binary file would be guesswork; the defaults are what the user
        // is told is in force.
        if (notice)
            *notice = notUnderstoodNotice(path);
        return TConfig();
    }
    auto agent = std::make_shared<THttpAgent>();
    auto agentType = readInt(ini, QStringLiteral("AgentType"));
    auto port = readInt(ini, QStringLiteral("Port"));
    if (!agentType || !port) {
        setError(error, QStringLiteral("AgentType or Port is not a number"));
        return std::nullopt;
    }
    agent->AgentType = *agentType;
    agent->Port = *port;
    agent->Server = ini.value(kNet, QStringLiteral("Server"));
    agent->User = ini.value(kNet, QStringLiteral("User"));
    agent->Password = ini.value(kNet, QStringLiteral("Password"));
    agent->Domain = ini.value(kNet, QStringLiteral("Domain"));

    MarketSettings market;
    market.SearchHost = ini.value(kMarket, QStringLiteral("SearchHost"), market.SearchHost);
    market.RatingHost = ini.value(kMarket, QStringLiteral("RatingHost"), market.RatingHost);
    market.SnapHost = ini.value(kMarket, QStringLiteral("SnapHost"), market.SnapHost);
    market.Domain = ini.value(kMarket, QStringLiteral("Domain"), market.Domain);
    market.HomePage = ini.value(kMarket, QStringLiteral("HomePage"), market.HomePage);
    market.TestUrl = ini.value(kMarket, QStringLiteral("TestUrl"), market.TestUrl);

    NetSettings net;
    net.Retries = readBounded(ini, QStringLiteral("Retries"), NetSettings::kMaxRetries, net.Retries);
    net.RetryDelay = readBounded(ini, QStringLiteral("RetryDelay"), NetSettings::kMaxDelayMs, net.RetryDelay);
    net.PageDelay = readBounded(ini, QStringLiteral("PageDelay"), NetSettings::kMaxDelayMs, net.PageDelay);
    net.Connections =
        readBounded(ini, QStringLiteral("Connections"), NetSettings::kMaxConnections, net.Connections);
    if (net.Connections < 1)
        net.Connections = NetSettings().Connections;
    net.TeamConnections = readBounded(ini, QStringLiteral("TeamConnections"),
                                      NetSettings::kMaxTeamConnections, net.TeamConnections);

    QueueSettings queue;
    queue.LeaseSeconds = readBounded(ini, QStringLiteral("LeaseSeconds"), QueueSettings::kMaxLeaseSeconds,
                                     queue.LeaseSeconds, kDatabase);
    if (queue.LeaseSeconds < 1)
        queue.LeaseSeconds = QueueSettings().LeaseSeconds;

    TConfig config;
    config.SetDatabaseUrl(ini.value(kDatabase, kUrl).trimmed());
    config.SetAgent(std::move(agent));
    config.SetQueue(queue);
    config.SetMarket(market);
    config.SetNet(net);
    return config;
}

namespace {
// The proxy keys of [Net], and the download keys with them when given, in one write.
bool saveNetKeys(const QString& path, const THttpAgent& agent, const NetSettings* net, QString* error)
{
    IniFile ini(path);
    if (!ini.load()) {
        setError(error, ini.error());
        return false;
    }
    ini.setValue(kNet, QStringLiteral("AgentType"), QString::number(agent.AgentType));
    ini.setValue(kNet, QStringLiteral("Server"), agent.Server);
    ini.setValue(kNet, QStringLiteral("Port"), QString::number(agent.Port));
    ini.setValue(kNet, QStringLiteral("User"), agent.User);
    ini.setValue(kNet, QStringLiteral("Password"), agent.Password);
    ini.setValue(kNet, QStringLiteral("Domain"), agent.Domain);
    if (net) {
        ini.setValue(kNet, QStringLiteral("Connections"), QString::number(net->Connections));
        ini.setValue(kNet, QStringLiteral("Retries"), QString::number(net->Retries));
        ini.setValue(kNet, QStringLiteral("RetryDelay"), QString::number(net->RetryDelay));
        ini.setValue(kNet, QStringLiteral("PageDelay"), QString::number(net->PageDelay));
    }
    // A password is for the user's eyes alone, in a file written earlier too.
    if (!agent.Password.isEmpty())
        ini.setOwnerOnly();
    if (!ini.save()) {
        setError(error, ini.error());
        return false;
    }
    return true;
}
} // namespace

bool saveAgent(const QString& path, const THttpAgent& agent, QString* error)
{
    return saveNetKeys(path, agent, nullptr, error);
}

bool saveNet(const QString& path, const THttpAgent& agent, const NetSettings& net, QString* error)
{
    return saveNetKeys(path, agent, &net, error);
}

bool writeLoginDate(const QString& path, QString* error)
{
    IniFile ini(path);
    if (!ini.load()) {
        setError(error, ini.error());
        return false;
    }
    if (!ini.understood())
        return true; // the user was told at start that the file is left as it is
    ini.setValue(QStringLiteral("Login"), QStringLiteral("date"),
                 formats::dateTime(QDateTime::currentDateTime()));
    if (!ini.save()) {
        setError(error, ini.error());
        return false;
    }
    return true;
}

} // namespace settings
