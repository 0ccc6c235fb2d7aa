#include "app/StartPage.h"

#include "store/DatabaseChoice.h"
#include "store/TConnection.h"

#include <QRegularExpression>
#include <array>

namespace startpage {
namespace {

struct Marker
{
    QLatin1String text;
    LinkAction action;
};

// Tested in this order; the first one found decides.
constexpr std::array kMarkers = {
    Marker{QLatin1String("helpyou://viewUser_/"), LinkAction::Browser},
    Marker{QLatin1String("helpyou://quickStart1_/"), LinkAction::Search},
    Marker{QLatin1String("helpyou://quickStart2_/"), LinkAction::Rank},
    Marker{QLatin1String("helpyou://quickStart3_/"), LinkAction::Trend},
    Marker{QLatin1String("helpyou://quickStart4_/"), LinkAction::Dist},
    Marker{QLatin1String("helpyou://changes_/"), LinkAction::Changes},
    Marker{QLatin1String("helpyou://help1_/"), LinkAction::HelpQuick},
    Marker{QLatin1String("helpyou://help2_/"), LinkAction::HelpBrowser},
    Marker{QLatin1String("helpyou://help3_/"), LinkAction::HelpAnalysis},
};

} // namespace

LinkAction actionFor(const QString& url)
{
    // A marker in the host part reaches us lower-cased (URL hosts are case-insensitive), so
    // the markers are compared without regard to case.
    for (const Marker& marker : kMarkers)
        if (url.contains(marker.text, Qt::CaseInsensitive))
            return marker.action;
    return LinkAction::None;
}

QString helpTopic(LinkAction action)
{
    switch (action) {
    case LinkAction::HelpQuick:
        return QStringLiteral("::quick.htm");
    case LinkAction::HelpBrowser:
        return QStringLiteral("::userview.htm");
    case LinkAction::HelpAnalysis:
        return QStringLiteral("::i3aeoeioe.htm");
    default:
        return QString();
    }
}

bool setInnerHtml(QString& html, const QString& name, const QString& inner)
{
    const QString value = QRegularExpression::escape(name);
    const QRegularExpression open(
        QStringLiteral(
            R"(<([A-Za-z][A-Za-z0-9]*)\b[^>]*?\s(?:id|name)\s*=\s*(?:"%1"|'%1'|%1(?=[\s/>]))[^>]*>)")
            .arg(value),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch start = open.match(html);
    if (!start.hasMatch())
        return false;
    // The element ends at the close tag that balances its own name (a nested element of the
    // same kind is skipped).
    const QString tag = start.captured(1);
    const QRegularExpression same(
        QStringLiteral(R"(<(/?)%1(?=[\s/>])[^>]*>)").arg(QRegularExpression::escape(tag)),
        QRegularExpression::CaseInsensitiveOption);
    int depth = 1;
    auto it = same.globalMatch(html, start.capturedEnd());
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const bool closing = !m.captured(1).isEmpty();
        const bool selfClosed = !closing && m.captured(0).endsWith(QLatin1String("/>"));
        if (closing)
            --depth;
        else if (!selfClosed)
            ++depth;
        if (depth == 0) {
            html.replace(start.capturedEnd(), m.capturedStart() - start.capturedEnd(), inner);
            return true;
        }
    }
    return false;
}

QString dataInfo(qlonglong shops, qlonglong trades)
{
    return QStringLiteral("共收集了") + QString::number(shops) + QStringLiteral("位掌柜资料,<br>") +
           QString::number(trades) + QStringLiteral("条交易记录!");
}

QString storeText(const QString& description)
{
    return description.isEmpty() ? QStringLiteral("数据库未打开") : QStringLiteral("数据库：") + description;
}

QString storeNote(const QString& target)
{
    if (!TConnection::isServerAddress(target))
        return QString::fromUtf16(kLocalNote);
    return QStringLiteral("收集的资料保存在数据库服务器上，不在本机：") + databasechoice::shown(target) +
           QStringLiteral("。");
}

} // namespace startpage
