// SPDX-License-Identifier: GPL-3.0-or-later
// The server field as users type it: host names, ports, IPv6 literals and URL schemes.
#include "ftp/ServerAddress.h"

#include <QTest>

using namespace zodaru;
using Security = ServerAddress::Security;

class TestServerAddress final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestServerAddress::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("shown");
    const int opp = int(Security::Opportunistic);
    QTest::newRow("host") << "ftp.example.org" << true << "ftp.example.org" << 21 << opp << "ftp.example.org:21";
    QTest::newRow("host and port") << "127.0.0.1:2121" << true << "127.0.0.1" << 2121 << opp << "127.0.0.1:2121";
    QTest::newRow("spaces around") << "  localhost:21 " << true << "localhost" << 21 << opp << "localhost:21";
    QTest::newRow("bare ipv6") << "::1" << true << "::1" << 21 << opp << "[::1]:21";
    QTest::newRow("bracketed ipv6") << "[::1]" << true << "::1" << 21 << opp << "[::1]:21";
    QTest::newRow("ipv6 and port") << "[::1]:2121" << true << "::1" << 2121 << opp << "[::1]:2121";
    QTest::newRow("full ipv6") << "fe80::1:2:3:4" << true << "fe80::1:2:3:4" << 21 << opp << "[fe80::1:2:3:4]:21";
    QTest::newRow("ftp url") << "ftp://h:2100/pub" << true << "h" << 2100 << int(Security::Clear) << "h:2100";
    QTest::newRow("ftpes url") << "FTPES://h" << true << "h" << 21 << int(Security::ExplicitTls) << "h:21";
    QTest::newRow("ftps url") << "ftps://h" << true << "h" << 990 << int(Security::ImplicitTls) << "h:990";
    QTest::newRow("ftps ipv6 port") << "ftps://[::1]:9990" << true << "::1" << 9990 << int(Security::ImplicitTls)
                                    << "[::1]:9990";
    QTest::newRow("empty") << "" << false << "" << 0 << 0 << "";
    QTest::newRow("port only") << ":21" << false << "" << 0 << 0 << "";
    QTest::newRow("port zero") << "h:0" << false << "" << 0 << 0 << "";
    QTest::newRow("port too big") << "h:65536" << false << "" << 0 << 0 << "";
    QTest::newRow("port letters") << "h:ftp" << false << "" << 0 << 0 << "";
    QTest::newRow("empty brackets") << "[]:21" << false << "" << 0 << 0 << "";
    QTest::newRow("junk after bracket") << "[::1]x" << false << "" << 0 << 0 << "";
    QTest::newRow("scheme alone") << "ftp://" << false << "" << 0 << 0 << "";
    QTest::newRow("space inside") << "my host" << false << "" << 0 << 0 << "";
}

void TestServerAddress::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto address = ServerAddress::parse(text);
    QCOMPARE(address.has_value(), valid);
    if (!address)
        return;
    QTEST(address->host, "host");
    QTEST(address->port, "port");
    QTEST(int(address->security), "security");
    QTEST(address->hostAndPort(), "shown");
}

QTEST_GUILESS_MAIN(TestServerAddress)
#include "tst_serveraddress.moc"
