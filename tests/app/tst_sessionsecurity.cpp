// SPDX-License-Identifier: GPL-3.0-or-later
// How a session is protected, through the real main window: the question before a password
// goes in clear, a connect where one connection is refused the TLS the others had, and a
// server that refuses to encrypt the data connections.
#include "support/AppHarness.h"

#include "model/CertificateStore.h"
#include "ftp/FTP.h"
#include "ui/ClearPasswordDialog.h"

#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/StrippingProxy.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QTest>

using namespace zodaru;
using namespace zodaru::test;
using State = MainWindowController::ConnectionState;

namespace {

// A server without TLS: AUTH is refused, then a login and an empty root.
void withoutTls(ScriptedFtpServer::Session &s)
{
    s.line("220 hello");
    for (;;) {
        const QByteArray line = s.readLine();
        if (line.startsWith("AUTH")) {
            s.line("504 no TLS here");
        } else if (line.startsWith("USER")) {
            s.line("331 password");
        } else if (line.startsWith("PASS")) {
            s.line("230 in");
        } else if (line == "PASV") {
            s.line(s.openPassive());
        } else if (line.startsWith("LIST")) {
            s.sendReply("150 Here it comes", "", "226 Done");
        } else if (line == "QUIT") {
            s.line("221 Bye");
            return;
        } else {
            s.line("502 not here");
        }
    }
}

RealFtpServer::Options trustedTls()
{
    RealFtpServer::Options options;
    options.tls = RealFtpServer::Options::Tls::Explicit;
    return options;
}

bool passwordSent(const ScriptedFtpServer &server)
{
    for (int conn = 0; conn < server.connectionCount(); ++conn)
        if (server.received(conn).contains("PASS "))
            return true;
    return false;
}

} // namespace

class TestSessionSecurity final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A bare host that refuses TLS: the password goes in clear only once the user said so,
    // and Return or Escape say no. ftp:// is the user's own choice of clear: no question.
    void clearPasswordQuestion_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("answer"); // empty: no question expected
        QTest::addColumn<bool>("connected");
        QTest::newRow("cancel") << "" << "cancel" << false;
        QTest::newRow("return") << "" << "return" << false;
        QTest::newRow("escape") << "" << "escape" << false;
        QTest::newRow("continue") << "" << "continue" << true;
        QTest::newRow("always, then a new program") << "" << "always" << true;
        QTest::newRow("ftp:// asks nothing") << "ftp://" << "" << true;
    }
    void clearPasswordQuestion()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, answer);
        QFETCH(bool, connected);
        ScriptedFtpServer server(withoutTls);
        const QString address = scheme + QStringLiteral("127.0.0.1:%1").arg(server.port());
        AppHarness h;
        h.launch();
        QVERIFY(h.connectThroughDialog(address, "me", "pw"));
        if (!answer.isEmpty()) {
            QTRY_VERIFY(h.app().clearPasswordQuestion());
            ClearPasswordDialog *question = h.app().clearPasswordQuestion();
            QVERIFY(question->isVisible());
            QCOMPARE(h.state(), State::Dialing);
            QVERIFY(!passwordSent(server));
            QVERIFY(question->cancelButton()->isDefault());
            if (answer == "cancel")
                question->cancelButton()->click();
            else if (answer == "return")
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : question, Qt::Key_Return);
            else if (answer == "escape")
                QTest::keyClick(question, Qt::Key_Escape);
            else {
                question->alwaysBox()->setChecked(answer == "always");
                question->continueButton()->click();
            }
        }
        if (!connected) {
            QTRY_VERIFY(!h.app().clearPasswordQuestion());
            QVERIFY(!h.app().ftp());
            QVERIFY2(h.controller().statusText().contains(QStringLiteral("not sent in clear")),
                     qPrintable(h.controller().statusText()));
            QVERIFY(h.app().parameters()->window()->isVisible());
            QCOMPARE(h.app().parameters()->window()->server()->currentText(), address);
            QVERIFY(!passwordSent(server));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(h.state(), State::Connected, 30000);
        QCOMPARE(h.window().securityLabel()->text(), QStringLiteral("Not encrypted"));
        const QString choices = CertificateStore::clearServersPath(CertificateStore::defaultPath());
        QCOMPARE(QFile::exists(choices), answer == "always");
        if (answer != "always")
            return;
        h.launch();
        QVERIFY(h.connectThroughDialog(address, "me", "pw"));
        QCOMPARE(h.state(), State::Connected);
        QVERIFY(!h.app().clearPasswordQuestion());
    }

    // Someone in the way strips the TLS of one of the three connections: no password goes
    // to it, and the session never shows itself encrypted with one engine in clear. The
    // user is asked (the first engine met it) or told (another had TLS already).
    void tlsStrippedOnOneConnection()
    {
        AppHarness h;
        QVERIFY2(h.serve({}, trustedTls()), h.why());
        QVERIFY(FTP::tlsContext().addTrustedCertificates(h.server.certificatePath()));
        StrippingProxy proxy(h.server.port(), [](int index) { return index == 1; });
        h.launch();
        QVERIFY(h.connectThroughDialog(proxy.address(), RealFtpServer::user(), RealFtpServer::password()));
        QCOMPARE_NE(h.state(), State::Connected);
        QVERIFY(!h.app().ftp());
        const QString said = h.controller().statusText();
        QVERIFY2(h.app().clearPasswordQuestion() || said.contains(QStringLiteral("refused TLS on one connection")),
                 qPrintable(said));
        QVERIFY(!proxy.clientLines().join('|').contains("PASS"));
    }

    // A server that will not encrypt the data connections: the user is told just that.
    void dataProtectionRefused()
    {
        AppHarness h;
        RealFtpServer::Options options = trustedTls();
        options.refuseProt = true;
        QVERIFY2(h.serve({}, options), h.why());
        QVERIFY(FTP::tlsContext().addTrustedCertificates(h.server.certificatePath()));
        h.launch();
        QVERIFY(h.connectThroughDialog(h.server.address(), RealFtpServer::user(), RealFtpServer::password()));
        QCOMPARE(h.state(), State::Dialing);
        QVERIFY(!h.app().ftp());
        QVERIFY2(h.controller().statusText().contains(QStringLiteral("refused to encrypt the data connections")),
                 qPrintable(h.controller().statusText()));
    }
};

QTEST_MAIN(TestSessionSecurity)
#include "tst_sessionsecurity.moc"
