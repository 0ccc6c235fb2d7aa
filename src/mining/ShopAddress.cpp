#include "mining/ShopAddress.h"

namespace shopaddress {
namespace {

QString asciiLower(QString text)
{
    for (QChar& c : text)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    return text;
}

bool isPort(const QString& text)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    const int port = text.toInt();
    return port >= 1 && port <= 65535;
}

} // namespace

QString problem(const QString& url, const QString& domain)
{
    if (url.trimmed().isEmpty())
        return QStringLiteral("empty address");
    // Blanks and backslashes are read differently by different address parsers; a host hidden
    // behind one could pass this check and still be fetched elsewhere.
    for (QChar c : url)
        if (c.unicode() <= u' ' || c.unicode() == 0x7f || c == u'\\')
            return QStringLiteral("blank, control character or backslash in the address");
    const qsizetype sep = url.indexOf(QLatin1String("://"));
    if (sep <= 0)
        return QStringLiteral("not an http:// or https:// address");
    const QString scheme = asciiLower(url.left(sep));
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QStringLiteral("the scheme %1 is not http or https").arg(url.left(sep));
    const QString rest = url.mid(sep + 3);
    qsizetype end = rest.size();
    for (QChar stop : {u'/', u'?', u'#'})
        if (qsizetype at = rest.indexOf(stop); at >= 0 && at < end)
            end = at;
    const QString authority = rest.left(end);
    // "http://domain@elsewhere/" goes to elsewhere.
    if (authority.contains(u'@'))
        return QStringLiteral("a user name in the address");
    QString host = authority;
    if (const qsizetype colon = authority.lastIndexOf(u':'); colon >= 0) {
        host = authority.left(colon);
        if (!isPort(authority.mid(colon + 1)))
            return QStringLiteral("the port %1 is not a number from 1 to 65535")
                .arg(authority.mid(colon + 1));
    }
    if (host.isEmpty())
        return QStringLiteral("no host");
    const QString want = asciiLower(domain.trimmed());
    if (want.isEmpty())
        return QStringLiteral("no marketplace domain is configured ([Market] Domain)");
    // A domain written with its port is compared with the host and port.
    const QString have = asciiLower(want.contains(u':') ? authority : host);
    if (have == want || have.endsWith(u'.' + want))
        return {};
    return QStringLiteral("the host %1 is not on the marketplace domain %2").arg(host, domain.trimmed());
}

} // namespace shopaddress
