#include "store/DatabaseChoice.h"

#include "store/TConnection.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace databasechoice {

Choice choose(const QString& commandLineUrl, const QString& configUrl, const QString& file)
{
    Choice choice;
    QString url = commandLineUrl.trimmed();
    choice.origin = Origin::CommandLine;
    if (url.isEmpty()) {
        url = configUrl.trimmed();
        choice.origin = Origin::Config;
    }
    if (url.isEmpty()) {
        choice.origin = Origin::File;
        choice.target = file;
        return choice;
    }
    if (!TConnection::isServerAddress(url)) {
        choice.error = notAServerAddress(url, choice.origin);
        return choice;
    }
    choice.target = url;
    return choice;
}

QString notAServerAddress(const QString& url, Origin origin)
{
    const QString where = origin == Origin::Config ? QStringLiteral("[Database] Url in config.ini")
                                                   : QStringLiteral("--database");
    return QStringLiteral("%1 must be a PostgreSQL connection URI (postgresql://USER@HOST:PORT/DATABASE), "
                          "not \"%2\"; the database file is not used instead")
        .arg(where, shownRefused(url));
}

QString shownRefused(const QString& text)
{
    // A value in quotes (with \' and \\ inside), else up to a blank or the next parameter.
    static const QRegularExpression password(
        QStringLiteral(R"((^|[\s&?])(?:ssl)?password\s*=\s*('(?:[^'\\]|\\.)*'?|[^\s&]*))"),
        QRegularExpression::CaseInsensitiveOption);
    QString out = text;
    out.replace(password, QStringLiteral("\\1"));
    return out.simplified();
}

QString shown(const QString& target)
{
    if (!TConnection::isServerAddress(target))
        return QDir::toNativeSeparators(target);
    const qsizetype scheme = target.indexOf(QLatin1String("://")) + 3;
    // The user part ends at the last "@" before the path or the parameters.
    qsizetype authorityEnd = target.size();
    for (qsizetype i = scheme; i < target.size(); ++i) {
        if (target[i] == u'/' || target[i] == u'?') {
            authorityEnd = i;
            break;
        }
    }
    QString authority = target.mid(scheme, authorityEnd - scheme);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        const qsizetype colon = authority.left(at).indexOf(u':');
        if (colon >= 0)
            authority.remove(colon, at - colon);
    }
    QString rest = target.mid(authorityEnd);
    const qsizetype question = rest.indexOf(u'?');
    if (question >= 0) {
        QStringList kept;
        const QStringList pairs = rest.mid(question + 1).split(u'&');
        for (const QString& pair : pairs)
            // The key's passphrase is as secret as the password.
            if (pair.section(u'=', 0, 0).compare(QLatin1String("password"), Qt::CaseInsensitive) != 0 &&
                pair.section(u'=', 0, 0).compare(QLatin1String("sslpassword"), Qt::CaseInsensitive) != 0)
                kept << pair;
        rest = rest.left(question);
        if (!kept.isEmpty())
            rest += u'?' + kept.join(u'&');
    }
    return target.left(scheme) + authority + rest;
}

QString describe(const TConnection& connection)
{
    if (!connection.isOpen())
        return QString();
    return connection.serverVersion() + QStringLiteral(" · ") + shown(connection.path());
}

} // namespace databasechoice
