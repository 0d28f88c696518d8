// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing sessions through the real main window, against pyftpdlib and the
// scripted server: the connect dialog, failed and untrusted connects, disconnects.
#include "support/AppHarness.h"

#include "model/CertificateStore.h"
#include "ftp/FTP.h"
#include "model/Bookmark.h"
#include "model/Sites.h"
#include "ui/CertificateDialog.h"
#include "support/FakeApp.h"

#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTest>

#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::test;
using namespace zodaru::testing;
using State = MainWindowController::ConnectionState;

namespace {

// A port on 127.0.0.1 that nothing listens on: bound by us, then released.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Logs in the first client that comes, then stops listening, so the next connection of
// the same attempt is refused. Records whether the client closed the one it got.
class OneLoginServer final {
public:
    OneLoginServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~OneLoginServer()
    {
        stop_ = true;
        thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }
    Q_DISABLE_COPY_MOVE(OneLoginServer)

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    bool clientClosed() const { return clientClosed_; }
    bool waitForClientClose() const
    {
        // Waits for the server's own side to be closed too, so descriptor counts that
        // follow see it gone.
        for (int i = 0; i < 1000 && !done_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return clientClosed_;
    }

private:
    // Reads what the client sends until a line is complete or it closes; false at the end.
    bool readLine(int fd, QByteArray &pending)
    {
        while (!pending.contains("\r\n")) {
            pollfd p{fd, POLLIN, 0};
            if (stop_)
                return false;
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            pending.append(buf, n);
        }
        pending.remove(0, pending.indexOf("\r\n") + 2);
        return true;
    }
    void serve()
    {
        pollfd p{listener_, POLLIN, 0};
        while (!stop_ && ::poll(&p, 1, 20) <= 0) {
        }
        if (stop_) {
            done_ = true;
            return;
        }
        const int fd = ::accept(listener_, nullptr, nullptr);
        ::close(std::exchange(listener_, -1));
        QByteArray pending;
        auto say = [fd](const char *text) { (void)!::write(fd, text, strlen(text)); };
        say("220 hello\r\n");
        if (readLine(fd, pending))
            say("331 password\r\n");
        if (readLine(fd, pending))
            say("230 in\r\n");
        // FEAT and whatever follows: a server answers even what it does not know.
        while (readLine(fd, pending))
            say("500 unknown\r\n");
        clientClosed_ = !stop_;
        ::close(fd);
        done_ = true;
    }

    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> clientClosed_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace

class TestSession final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connectListsTheRootAndOpensDirectories()
    {
        AppHarness h;
        QVERIFY2(h.serve({{"a.txt", "hello"}, {"pub/inner.txt", "x"}, {"pub/deep/z", "z"}}), h.why());
        QVERIFY(QFile::link(h.server.localPath("pub"), h.server.localPath("ln")));

        // A bare host: TLS is asked for, this server refuses it, the session goes on in clear
        // once the user agreed.
        const QString address = QStringLiteral("127.0.0.1:%1").arg(h.server.port());
        h.launch();
        LogCapture log;
        QVERIFY(h.connectThroughDialog(address, RealFtpServer::user(), RealFtpServer::password()));
        QTRY_VERIFY(h.app().clearPasswordQuestion());
        h.app().clearPasswordQuestion()->continueButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.state(), State::Connected, 30000);

        QCOMPARE(h.state(), State::Connected);
        QVERIFY(h.window().Get()->isEnabled());
        QVERIFY(h.window().Put()->isEnabled());
        QCOMPARE(h.window().securityLabel()->text(), QStringLiteral("Not encrypted"));
        QVERIFY(h.window().securityLabel()->isVisible());
        QVERIFY(h.app().ftp() && h.app().ftp()->isConnected());
        QVERIFY(h.downloadEngine()->isConnected());
        QVERIFY(h.uploadEngine()->isConnected());
        QVERIFY(h.app().ftp() != h.downloadEngine());

        QStringList root = AppHarness::names(h.remote(), 0);
        root.sort();
        QCOMPARE(root, (QStringList{"a.txt", "ln", "pub"}));
        QVERIFY(log.contains(QStringLiteral("On fait un ls sur >/<")));
        CellFile *link = h.remote().cellAt(0, int(AppHarness::names(h.remote(), 0).indexOf("ln")));
        QVERIFY(link->isLeaf());
        QVERIFY(link->font().has_value() && link->font()->italic());

        QVERIFY(AppHarness::select(h.remote(), 0, {"pub"}));
        QCOMPARE(h.remote().columnCount(), 2);
        QCOMPARE(h.remote().titleOfColumn(1), QStringLiteral("/pub"));
        QStringList second = AppHarness::names(h.remote(), 1);
        second.sort();
        QCOMPARE(second, (QStringList{"deep", "inner.txt"}));
        QVERIFY(AppHarness::select(h.remote(), 1, {"deep"}));
        QCOMPARE(AppHarness::names(h.remote(), 2), QStringList{"z"});
        QVERIFY(log.contains(QStringLiteral("On fait un ls sur >/pub/deep<")));

        // The password never reaches the log.
        QVERIFY(log.contains(QStringLiteral("Login : user Password **** sur le serveur : %1\n").arg(address)));
        for (const QString &line : log.lines())
            QVERIFY2(!line.contains(QLatin1String("secret")), qPrintable(line));
    }

    void dialogOpensWithEveryPress()
    {
        AppHarness h;
        h.launch();
        LogCapture log;
        const QPointer<ParametersWindow> first = h.pressConnect();
        QVERIFY(first);
        QCOMPARE(h.state(), State::Dialing);
        QCOMPARE(h.window().Connect()->text(), QStringLiteral("Dialing"));
        // Pressed again while dialing: a new dialog replaces the first.
        QVERIFY(h.pressConnect());
        QVERIFY(h.app().parameters()->window() != first);
        QVERIFY(!first || !first->isVisible());
        QCOMPARE(log.count(QStringLiteral("on compte les bookmarks...\n")), 2);
        QVERIFY(!h.app().ftp());
    }

    void savedSiteFillsTheCredentials()
    {
        AppHarness h;
        QVERIFY2(h.serve(), h.why());
        {
            Sites sites = Sites::fromFile(h.bookmarksFile());
            sites.addSite(Bookmark(h.server.address(), RealFtpServer::user(), RealFtpServer::password()));
            QVERIFY(sites.writeFile(h.bookmarksFile()));
        }
        h.launch();
        ParametersWindow *dialog = h.pressConnect();
        QVERIFY(dialog);
        dialog->server()->setFocus();
        QTest::keyClick(dialog->server(), Qt::Key_Down);
        QCOMPARE(dialog->server()->currentText(), h.server.address());
        QCOMPARE(dialog->login()->text(), RealFtpServer::user());
        QCOMPARE(dialog->password()->text(), RealFtpServer::password());
        dialog->go()->click();
        QTRY_COMPARE(h.state(), State::Connected);
    }

    void cancelLeavesTheSessionClosed()
    {
        AppHarness h;
        h.launch();
        const QList<File> *downloads = h.app().downloadQueue();
        ParametersWindow *dialog = h.pressConnect();
        QVERIFY(dialog);
        dialog->cancel()->click();
        QCOMPARE(h.state(), State::Disconnected);
        QVERIFY(!h.window().Get()->isEnabled());
        QVERIFY(!h.app().ftp());
        QVERIFY(!h.downloadEngine());
        QCOMPARE(h.app().downloadQueue(), downloads);
        QVERIFY(h.pressConnect());
    }

    // Whatever goes wrong, no engine is kept, nothing escapes, the status line says why in
    // words and the dialog opens again with what was typed.
    void failedConnect_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong password") << "password" << "refused the login";
        QTest::newRow("connection refused") << "refused" << "Could not reach";
        QTest::newRow("server never greets") << "silent" << "does not answer as an FTP server";
        QTest::newRow("peer closes at once") << "closes" << "does not answer as an FTP server";
        QTest::newRow("ftpes:// to a server without TLS") << "no tls" << "does not offer TLS";
    }
    void failedConnect()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);

        AppHarness h;
        std::unique_ptr<ScriptedFtpServer> fake;
        QString address;
        QString password = RealFtpServer::password();
        if (kind == "password" || kind == "no tls") {
            QVERIFY2(h.serve(), h.why());
            address = h.server.address();
            if (kind == "password")
                password = QStringLiteral("wrong");
            else
                address = QStringLiteral("ftpes://127.0.0.1:%1").arg(h.server.port());
        } else if (kind == "refused") {
            address = QStringLiteral("127.0.0.1:%1").arg(closedPort());
        } else {
            FTP::Settings shorter;
            shorter.timeouts.replyLine = 300;
            h.setEngineSettings(shorter);
            fake = std::make_unique<ScriptedFtpServer>(scripted(kind == "silent" ? "silence" : "close"));
            address = fake->address();
        }

        h.launch();
        const int descriptors = openDescriptorCount();
        LogCapture log;
        QVERIFY(h.connectThroughDialog(address, RealFtpServer::user(), password));

        QCOMPARE(h.state(), State::Dialing);
        QVERIFY(!h.window().Get()->isEnabled());
        QVERIFY(!h.app().ftp());
        QVERIFY(log.containsPrefix(QStringLiteral("Exception recue dans connectWithAddress ==> ")));
        QVERIFY2(h.controller().statusText().contains(said), qPrintable(h.controller().statusText()));
        QCOMPARE(h.remote().rowCount(0), 0);
        ParametersWindow *again = h.app().parameters()->window();
        QVERIFY(again->isVisible());
        QCOMPARE(again->server()->currentText(), address);
        QCOMPARE(again->login()->text(), RealFtpServer::user());
        QCOMPARE(again->password()->text(), password);
        if (!fake)
            QTRY_COMPARE(openDescriptorCount(), descriptors);
    }

    // A certificate that does not verify is asked about once per connect, whichever of the
    // three logins meets it first; trusted, the connect is made again by itself.
    void untrustedCertificate_data()
    {
        QTest::addColumn<QString>("scheme"); // of the server field; ftps:// is implicit TLS
        QTest::addColumn<bool>("trustedBefore"); // another certificate, for the same server
        QTest::addColumn<int>("choice");
        using Choice = CertificateDialog::Choice;
        QTest::newRow("bare host, trust once") << "" << false << int(Choice::TrustOnce);
        QTest::newRow("ftps://, trust once") << "ftps://" << false << int(Choice::TrustOnce);
        QTest::newRow("ftpes://, cancel") << "ftpes://" << false << int(Choice::Cancel);
        QTest::newRow("always, then a new program") << "" << false << int(Choice::TrustAlways);
        QTest::newRow("changed since trusted") << "ftpes://" << true << int(Choice::TrustAlways);
    }
    void untrustedCertificate()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, trustedBefore);
        QFETCH(int, choice);
        AppHarness h;
        RealFtpServer::Options options;
        options.tls = scheme == "ftps://" ? RealFtpServer::Options::Tls::Implicit : RealFtpServer::Options::Tls::Explicit;
        QVERIFY2(h.serve({{"a.txt", "hello"}}, options), h.why());
        const QString address = scheme + QStringLiteral("127.0.0.1:%1").arg(h.server.port());

        const QString storePath = CertificateStore::defaultPath();
        const QString key = CertificateStore::key(QStringLiteral("127.0.0.1"), h.server.port());
        if (trustedBefore) {
            CertificateStore before(storePath);
            QVERIFY(before.trustAlways(key, QByteArray(32, '\x11'), nullptr));
        }
        h.launch();
        QVERIFY(h.connectThroughDialog(address, RealFtpServer::user(), RealFtpServer::password()));
        QTRY_VERIFY(h.app().certificateQuestion());
        CertificateDialog *question = h.app().certificateQuestion();
        QCOMPARE(question->warning()->isVisible(), trustedBefore);
        QVERIFY(!h.app().ftp());
        // The other logins of the attempt, stopped by the same certificate, ask nothing more.
        QTest::qWait(200);
        QCOMPARE(h.window().findChildren<CertificateDialog *>().size(), 1);

        switch (CertificateDialog::Choice(choice)) {
        case CertificateDialog::Choice::Cancel:
            question->cancelButton()->click();
            QCOMPARE(h.state(), State::Dialing);
            QVERIFY(!h.app().ftp());
            QVERIFY2(h.controller().statusText().contains(QStringLiteral("not trusted")),
                     qPrintable(h.controller().statusText()));
            QVERIFY(h.app().parameters()->window()->isVisible());
            QCOMPARE(h.app().parameters()->window()->server()->currentText(), address);
            QVERIFY(!QFile::exists(storePath));
            return;
        case CertificateDialog::Choice::TrustOnce:
            question->trustOnceButton()->click();
            break;
        case CertificateDialog::Choice::TrustAlways:
            question->trustAlwaysButton()->click();
            break;
        }
        QTRY_COMPARE_WITH_TIMEOUT(h.state(), State::Connected, 30000);
        QVERIFY(!h.app().certificateQuestion());
        QVERIFY2(h.window().securityLabel()->text().startsWith(QStringLiteral("Encrypted (TLSv1.")),
                 qPrintable(h.window().securityLabel()->text()));
        QCOMPARE(AppHarness::names(h.remote(), 0), QStringList{"a.txt"});
        if (CertificateDialog::Choice(choice) == CertificateDialog::Choice::TrustOnce) {
            QVERIFY(!QFile::exists(storePath));
            return;
        }
        QCOMPARE(QFile::permissions(storePath),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        // Trusted for good: a new program connects without a question.
        h.launch();
        QVERIFY(h.connectThroughDialog(address, RealFtpServer::user(), RealFtpServer::password()));
        QCOMPARE(h.state(), State::Connected);
        QVERIFY(!h.app().certificateQuestion());
    }

    // Connect pressed again while the logins are on their way gives the attempt up: the
    // window is disconnected at once and the late logins are closed, never used.
    void cancelWhileDialing()
    {
        // A server that never greets: the three logins wait for its first line.
        ScriptedFtpServer server(scripted("eof"));
        AppHarness h;
        h.launch();
        ParametersWindow *dialog = h.pressConnect();
        QVERIFY(dialog);
        dialog->server()->setEditText(server.address());
        dialog->go()->click();
        QVERIFY(h.app().isDialing());
        QVERIFY(server.waitForConnections(3));
        h.window().Connect()->click();
        QVERIFY(!h.app().isDialing());
        QCOMPARE(h.state(), State::Disconnected);
        QVERIFY(!h.app().ftp());
        // Given up at once, not at the end of the greeting's time limit.
        for (int conn = 0; conn < 3; ++conn)
            QVERIFY(server.waitForFinished(conn, 5000));
        QVERIFY(h.pressConnect());
    }

    // The second connection of an attempt is refused: the first engine, already logged
    // in, is closed rather than kept or leaked.
    void refusedHalfwayClosesWhatWasMade()
    {
        OneLoginServer server;
        AppHarness h;
        h.launch();
        const int descriptors = openDescriptorCount();
        LogCapture log;
        QVERIFY(h.connectThroughDialog(QStringLiteral("ftp://") + server.address(), "me", "pw"));
        QCOMPARE(h.state(), State::Dialing);
        QVERIFY(!h.app().ftp());
        QVERIFY(log.containsPrefix(QStringLiteral("Exception recue dans connectWithAddress ==> ")));
        QVERIFY(!h.controller().statusText().isEmpty());
        QVERIFY(server.waitForClientClose());
        // The server runs in this process: its listener is gone too.
        QTRY_COMPARE(openDescriptorCount(), descriptors - 1);
    }

    void disconnectSaysQuitOnEachConnection()
    {
        ScriptedFtpServer server(browsingServer({{"/", unixLine("f")}}));
        AppHarness h;
        h.launch();
        LogCapture log;
        QVERIFY(h.connectThroughDialog(server.address(), "me", "pw"));
        QCOMPARE(h.state(), State::Connected);
        QCOMPARE(AppHarness::names(h.remote(), 0), QStringList{"f"});

        h.window().Connect()->click();
        QCOMPARE(h.state(), State::Disconnected);
        QVERIFY(!h.window().Get()->isEnabled());
        QCOMPARE(h.remote().rowCount(0), 0);
        for (int conn = 0; conn < 3; ++conn) {
            QVERIFY(server.waitForFinished(conn));
            const QStringList sent = commandsSent(server, conn, {"TYPE", "QUIT"});
            QVERIFY2(sent.size() >= 2, qPrintable(sent.join(',')));
            QCOMPARE(sent.mid(sent.size() - 2), (QStringList{"TYPE A", "QUIT"}));
        }
        const int start = log.indexOf(QStringLiteral("On se deconnecte\n"));
        QVERIFY(start >= 0);
        QVERIFY(log.indexOf(QStringLiteral("FTP closed\n"), start) > start);
        QCOMPARE(h.app().downloadQueue()->size(), 0);
        // Connect opens the dialog again.
        QVERIFY(h.pressConnect());
    }

    // Requests on the command engine come back in the order they were made, each with a
    // newer serial; a request still on its way when the session ends never answers.
    void commandRequestsInOrderAndStaleOnesDropped()
    {
        ScriptedFtpServer server(browsingServer({{"/", unixLine("f")}, {"/d", unixLine("g")}}));
        AppHarness h;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));

        QStringList answers;
        const auto listed = [&answers](const QString &path) {
            return [&answers, path](const std::optional<QList<File>> &entries) {
                answers << path + QLatin1Char(':') + (entries ? entries->value(0).name() : QStringLiteral("failed"));
            };
        };
        const quint64 first = h.app().listRemote(QStringLiteral("/d"), listed("/d"));
        const quint64 second = h.app().remoteCommand(QStringLiteral("MKD"), QStringLiteral("/d/n"),
                                                     [&answers](int code) { answers << QString::number(code); });
        const quint64 third = h.app().listRemote(QStringLiteral("/"), listed("/"));
        QVERIFY(first < second && second < third);
        QTRY_COMPARE(answers, (QStringList{"/d:g", "250", "/:f"}));

        answers.clear();
        h.app().listRemote(QStringLiteral("/d"), listed("stale"));
        h.window().Connect()->click();
        // Whatever the old engine did comes back before it sent QUIT.
        for (int conn = 0; conn < 3; ++conn)
            QVERIFY(server.waitForFinished(conn));
        QCoreApplication::processEvents();
        QVERIFY2(answers.isEmpty(), qPrintable(answers.join(',')));

        // Without a session a request fails, on a later pass.
        h.app().listRemote(QStringLiteral("/"), listed("none"));
        QVERIFY(answers.isEmpty());
        QTRY_COMPARE(answers, QStringList{"none:failed"});
    }

    // An idle session sends NOOP on each connection at the interval the settings give.
    void keepAliveAtTheSetInterval()
    {
        ScriptedFtpServer server(browsingServer({{"/", unixLine("f")}}));
        AppHarness h;
        QVERIFY(writeFile(h.settingsFile(),
                          "[session]\nkeepAliveSeconds=1\n"));
        h.launch();
        QVERIFY(h.connectThroughDialog(server.address(), "me", "pw"));
        QCOMPARE(h.state(), State::Connected);
        // The timer runs on this thread: waited for with the event loop running.
        for (int conn = 0; conn < 3; ++conn)
            QTRY_VERIFY(server.received(conn).contains("NOOP\r\n"));
    }

};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
