// A server store reached over TLS: libpq's parameters in the address pass through, a server
// whose certificate the named authority signed is verified, one signed by another authority is
// refused with libpq's reason, and the address is shown without its secrets.
#include "store/DatabaseChoice.h"
#include "store/PgServer.h"
#include "store/TDM.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Two certificate authorities of the test's own and a server certificate for 127.0.0.1 signed
// by the first; empty on success, else what went wrong.
QString makeCertificates(const QString& dir)
{
    const QString script = QStringLiteral(
        "set -e; cd '%1'; key='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes';\n"
        "openssl req -x509 $key -keyout ca.key -out ca.crt -days 2 -subj /CN=kestrova-test-ca\n"
        "openssl req -x509 $key -keyout other.key -out other.crt -days 2 -subj /CN=another-ca\n"
        "openssl req $key -keyout server.key -out server.csr -subj /CN=127.0.0.1\n"
        "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext\n"
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 "
        "-extfile san.ext\n"
        "chmod 600 server.key\n");
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script.arg(dir)});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("openssl: ") + QString::fromUtf8(p.readAllStandardError());
    return QString();
}

TEST(ServerTls, AVerifiedServerOpensAndOneOfAnotherAuthorityIsRefusedWithLibpqsReason)
{
    PgServer server;
    if (!server.skipReason().isEmpty())
        GTEST_SKIP() << server.skipReason().toStdString();
    ASSERT_TRUE(server.running()) << server.error().toStdString();
    const QString dir = server.dir() + QStringLiteral("/tls");
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString made = makeCertificates(dir);
    if (made.contains(QLatin1String("command not found")))
        GTEST_SKIP() << "openssl is not installed";
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    // The server reads its key as the user it runs as.
    QString out;
    if (::getuid() == 0) {
        const QString owner = server.url().section(u'@', 0, 0).section(u'/', -1);
        QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), owner + u':', dir});
    }
    // One statement a call: ALTER SYSTEM takes no transaction block.
    for (const QString& sql : {QStringLiteral("ALTER SYSTEM SET ssl_cert_file = '%1/server.crt'").arg(dir),
                               QStringLiteral("ALTER SYSTEM SET ssl_key_file = '%1/server.key'").arg(dir),
                               QStringLiteral("ALTER SYSTEM SET ssl = on")})
        ASSERT_EQ(server.psql(sql, &out), 0) << out.toStdString();
    ASSERT_EQ(server.psql(QStringLiteral("SELECT pg_reload_conf()"), &out), 0) << out.toStdString();

    const QString base = server.url() + QStringLiteral("?sslmode=verify-full&sslrootcert=");
    {
        TDM dm;
        ASSERT_TRUE(dm.DataModuleCreate(base + dir + QStringLiteral("/ca.crt")))
            << dm.OpenError().toStdString();
        TQuery* q = dm.ADOQuery1;
        q->SetSQL(QStringLiteral("select ssl from pg_stat_ssl where pid = pg_backend_pid()"));
        ASSERT_TRUE(q->Open()) << q->lastError().toStdString();
        EXPECT_TRUE(q->value(0, 0).toBool()) << "the link is encrypted";
    }
    const QString other = base + dir + QStringLiteral("/other.crt&password=s3cret&sslpassword=k3y&sslkey=") +
                          dir + QStringLiteral("/server.key");
    TDM dm;
    EXPECT_FALSE(dm.DataModuleCreate(other));
    EXPECT_TRUE(dm.OpenError().contains(QLatin1String("certificate verify failed")))
        << dm.OpenError().toStdString();
    EXPECT_FALSE(dm.OpenError().contains(QLatin1String("s3cret")) ||
                 dm.OpenError().contains(QLatin1String("k3y")))
        << dm.OpenError().toStdString();
    const QString shown = databasechoice::shown(other);
    EXPECT_FALSE(shown.contains(QLatin1String("s3cret")) || shown.contains(QLatin1String("k3y")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QLatin1String("sslmode=verify-full"))) << shown.toStdString();
}

} // namespace
