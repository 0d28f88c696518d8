// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing sessions through the real main window, against pyftpdlib and the
// scripted server.
#include "support/AppHarness.h"

#include "app/RetiredEngines.h"
#include "app/SessionEngine.h"
#include "model/CertificateStore.h"
#include "ftp/FTP.h"
#include "model/Bookmark.h"
#include "model/Sites.h"
#include "ui/CertificateDialog.h"
#include "ui/GetNameWindow.h"
#include "support/FakeApp.h"

#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/ShownWindow.h"
#include "support/TestSupport.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QTableView>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::test;
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

// Lists `listings`, serves RETR from `files`, and on connection 0 drops the control
// connection, the way servers do ("421", then close), when asked to list `dropOn`.
ScriptedFtpServer::Script droppingServer(QMap<QByteArray, QByteArray> listings,
                                         QMap<QByteArray, QByteArray> files, QByteArray dropOn)
{
    return [=](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        // Listed by "LIST path" or by "CWD path" then "LIST".
        for (;;) {
            const QByteArray line = s.readLine();
            if (line == "PASV") {
                s.line(s.openPassive());
            } else if (line == "LIST" || line.startsWith("LIST ")) {
                const QByteArray path = line.size() > 5 ? line.mid(5) : s.workingDirectory();
                // Only the command engine lists.
                if (path == dropOn) {
                    s.line("421 Service not available, closing control connection");
                    s.closeControl();
                    return;
                }
                s.sendReply("150 Here it comes", listings.value(path), "226 Done");
            } else if (line.startsWith("RETR ")) {
                s.sendReply("150 Sending", files.value(line.mid(5)), "226 Sent");
            } else if (line == "QUIT") {
                s.line("221 Bye");
                return;
            } else {
                s.line("200 OK");
            }
        }
    };
}

QByteArray unixLine(const char *kind, const QByteArray &name, int size = 5)
{
    return QByteArray(kind) + " 1 u g " + QByteArray::number(size) + " Jan  1  2020 " + name + "\r\n";
}

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
        std::unique_ptr<ScriptedFtpServer> scripted;
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
            const bool stall = kind == "silent";
            scripted = std::make_unique<ScriptedFtpServer>([stall](ScriptedFtpServer::Session &s) {
                if (stall)
                    s.stall();
                s.closeControl();
            });
            address = scripted->address();
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
        if (!scripted)
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
        ScriptedFtpServer server([](ScriptedFtpServer::Session &s) { s.waitForEof(); });
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
        ScriptedFtpServer server(browsingServer({{"/", unixLine("-rw-r--r--", "f")}}));
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
        ScriptedFtpServer server(browsingServer({{"/", unixLine("-rw-r--r--", "f")}, {"/d", unixLine("-rw-r--r--", "g")}}));
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

    // The server closes the command connection while nothing is asked of it (its idle
    // time-out): the idle check notices and says so, the session stays shown connected and
    // the next request logs in again quietly. Only a failed login then is a lost session.
    // Once the user disconnects, nothing logs in again.
    void serverClosesWhileIdle_data()
    {
        QTest::addColumn<QByteArray>("farewell");
        QTest::addColumn<bool>("loginAgainWorks");
        QTest::addColumn<QString>("then");
        QTest::newRow("end of stream, next listing") << QByteArray() << true << "list";
        QTest::newRow("421, next listing") << QByteArray("421 Timeout.\r\n") << true << "list";
        QTest::newRow("login refused when reopening") << QByteArray("421 Timeout.\r\n") << false << "list";
        QTest::newRow("disconnect after the close") << QByteArray() << true << "disconnect";
    }
    void serverClosesWhileIdle()
    {
        QFETCH(QByteArray, farewell);
        QFETCH(bool, loginAgainWorks);
        QFETCH(QString, then);
        ScriptedFtpServer server([&](ScriptedFtpServer::Session &s) {
            // The first three are the session's logins; a fourth can only be a reopening.
            if (s.index() < 3) {
                s.greetAndLogin();
            } else {
                s.line("220 Again");
                s.expect("USER me");
                s.line("331 Password");
                s.expect("PASS pw");
                s.line(loginAgainWorks ? "230 In" : "530 Denied");
                if (!loginAgainWorks)
                    return;
            }
            for (;;) {
                const QByteArray line = s.readLine();
                if (line == "PASV") {
                    s.line(s.openPassive());
                } else if (line.startsWith("LIST")) {
                    s.sendReply("150 Here it comes", unixLine("-rw-r--r--", "f"), "226 Done");
                    if (s.index() < 3) {
                        s.send(farewell);
                        s.closeControl();
                        return;
                    }
                } else if (line == "QUIT") {
                    s.line("221 Bye");
                    return;
                } else {
                    s.line("250 OK");
                }
            }
        });
        AppHarness h;
        h.launch();
        const int descriptors = openDescriptorCount();
        LogCapture log;
        QVERIFY(h.connectThroughDialog(server.address(), "me", "pw"));
        QCOMPARE(AppHarness::names(h.remote(), 0), QStringList{"f"});
        const QString noticed = QStringLiteral("Session fermee par le serveur entre deux commandes (%1)")
                                    .arg(farewell.isEmpty() ? QStringLiteral("fin de flux") : QStringLiteral("421"));
        QTRY_VERIFY(log.containsPrefix(noticed));
        QCOMPARE(h.state(), State::Connected);
        const QString reopening = QStringLiteral("Session fermee par le serveur pendant l'attente : on se reconnecte a ");
        if (then == u"disconnect") {
            h.window().Connect()->click();
            QCOMPARE(h.state(), State::Disconnected);
            // Every engine has been let go once the descriptors are back where they were.
            QTRY_COMPARE(openDescriptorCount(), descriptors);
            QCOMPARE(server.connectionCount(), 3);
            QVERIFY(!log.containsPrefix(reopening));
            return;
        }
        std::optional<bool> listed;
        h.app().listRemote(QStringLiteral("/"), [&listed](const std::optional<QList<File>> &entries) {
            listed = entries && entries->value(0).name() == u"f";
        });
        QTRY_VERIFY(listed.has_value());
        QVERIFY(log.contains(reopening + server.address()));
        QCOMPARE(*listed, loginAgainWorks);
        QCOMPARE(server.connectionCount(), 4);
        QCOMPARE(h.state() == State::Connected, loginAgainWorks);
        QCOMPARE(log.containsPrefix(QStringLiteral("Connexion au serveur perdue (listing)")), !loginAgainWorks);
        QCOMPARE(h.controller().statusText().isEmpty(), loginAgainWorks);
    }

    // An idle session sends NOOP on each connection at the interval the settings give.
    void keepAliveAtTheSetInterval()
    {
        ScriptedFtpServer server(browsingServer({{"/", unixLine("-rw-r--r--", "f")}}));
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

    // A transfer engine that lost its connection logs in again on its worker; a disconnect
    // gives that login up at once, not at the end of its time limits.
    void disconnectGivesUpATransferEngineLogin()
    {
        FTP::Settings longer;
        longer.timeouts.replyLine = 120000;
        ScriptedFtpServer server([](ScriptedFtpServer::Session &s) {
            if (s.index() >= 3) {
                s.waitForEof(); // the new login of the download engine: never greeted
                return;
            }
            s.greetAndLogin();
            for (;;) {
                const QByteArray line = s.readLine();
                if (line == "PASV") {
                    s.line(s.openPassive());
                } else if (line.startsWith("LIST")) {
                    s.sendReply("150 Here it comes", unixLine("-rw-r--r--", "a") + unixLine("-rw-r--r--", "b"),
                                "226 Done");
                } else if (line.startsWith("RETR")) {
                    s.line("421 Going away");
                    s.closeControl();
                    return;
                } else if (line == "QUIT") {
                    s.line("221 Bye");
                    return;
                } else {
                    s.line("250 OK");
                }
            }
        });
        AppHarness h;
        h.engineSettings = longer;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h.remote(), 0, {"a", "b"}));
        // "a" closes the download engine; "b" makes it log in again, into silence.
        h.window().Get()->click();
        QTRY_COMPARE(server.connectionCount(), 4);
        h.window().Connect()->click();
        QCOMPARE(h.state(), State::Disconnected);
        // Far below the two minutes the greeting would be waited for.
        QTRY_VERIFY_WITH_TIMEOUT(server.waitForFinished(3, 0), 20000);
    }

    // Quitting closes every engine kept, a transfer engine's new login on its way
    // included: the worker's wait ends at once, not at the end of the greeting's limit.
    void quittingGivesUpALoginOnItsWay()
    {
        FTP::Settings longer;
        longer.timeouts.replyLine = 120000;
        ScriptedFtpServer server([](ScriptedFtpServer::Session &s) { s.waitForEof(); });
        auto engine = std::make_unique<SessionEngine>();
        engine->replacement = FTP::create(longer);
        engine->worker.post([ftp = engine->replacement, address = server.address()] {
            try {
                FTP::connectInto(ftp, address, QStringLiteral("me"), QStringLiteral("pw"));
            } catch (const NetworkException &) {
            }
        });
        QVERIFY(server.waitForConnections(1));
        std::atomic<bool> closedSoon{false};
        std::thread watcher([&] { closedSoon = server.waitForFinished(0, 20000); });
        {
            RetiredEngines retired;
            retired.retire(std::move(engine), true);
        } // closes what it keeps, then waits for the worker
        watcher.join();
        QVERIFY(closedSoon);
    }

    // Disconnect keeps the unfinished downloads: they wait, and start at the next connect
    // to the same site. A connect to another site sets them aside, without starting them
    // there, until the first site is connected again.
    void disconnectKeepsTheQueues_data()
    {
        QTest::addColumn<bool>("otherSiteFirst");
        QTest::newRow("same site again") << false;
        QTest::newRow("another site in between") << true;
    }
    void disconnectKeepsTheQueues()
    {
        QFETCH(bool, otherSiteFirst);
        AppHarness h;
        const QByteArray big = patternBytes(16 << 20, 5);
        QVERIFY2(h.serve({{"big", big}, {"small", "small file"}}), h.why());
        QVERIFY2(h.launchConnected(), h.why());
        QVERIFY(AppHarness::select(h.remote(), 0, {"big", "small"}));
        // Disconnected before the queue hears of any progress: both are unfinished.
        h.window().Get()->click();
        h.window().Connect()->click();
        QCOMPARE(h.state(), State::Disconnected);
        const auto waiting = [&h] {
            QStringList names;
            for (const File &entry : *h.app().downloadQueue())
                if (!entry.isDone() && !entry.isCurrent())
                    names << entry.name();
            names.sort();
            return names;
        };
        QCOMPARE(waiting(), (QStringList{"big", "small"}));
        QCOMPARE(h.window().Downloads()->model()->rowCount(), 2);

        if (otherSiteFirst) {
            // Another login on the same server is another site.
            QVERIFY(h.connectThroughDialog(h.server.address(), QStringLiteral("anonymous"), QStringLiteral("guest")));
            QCOMPARE(h.state(), State::Connected);
            QCOMPARE(h.app().downloadQueue()->size(), 0);
            QCOMPARE(h.unfinishedTransfers(), 2);
            h.window().Connect()->click();
            QCOMPARE(h.app().downloadQueue()->size(), 0);
        }
        QVERIFY(h.connectThroughDialog(h.server.address(), RealFtpServer::user(), RealFtpServer::password()));
        QCOMPARE(h.state(), State::Connected);
        QCOMPARE(h.app().downloadQueue()->size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(h.unfinishedTransfers() == 0, 60000);
        for (const File &entry : *h.app().downloadQueue())
            QCOMPARE(entry.getStatus(), QStringLiteral("Done."));
        QCOMPARE(readFile(h.localFile("big")), big);
        QCOMPARE(readFile(h.localFile("small")), QByteArray("small file"));
    }

    // A refused DELE or MKD fails that command alone and is logged; a server that closes
    // ends the session. Either way the window never shows a dead session as Connected.
    void refusedCommandAtTheRoot_data()
    {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("serverCloses");
        QTest::newRow("DELE refused") << QByteArray("DELE") << QByteArray("550 No such file") << false;
        QTest::newRow("MKD of an existing name") << QByteArray("MKD") << QByteArray("550 File exists") << false;
        QTest::newRow("DELE, server closes") << QByteArray("DELE") << QByteArray("421 Bye now") << true;
        QTest::newRow("MKD, server closes") << QByteArray("MKD") << QByteArray("421 Bye now") << true;
    }
    void refusedCommandAtTheRoot()
    {
        QFETCH(QByteArray, word);
        QFETCH(QByteArray, reply);
        QFETCH(bool, serverCloses);
        ScriptedFtpServer server(browsingServer({{"/", unixLine("-rw-r--r--", "f")}}, {{word, reply}}));
        AppHarness h;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));
        LogCapture log;
        if (word == "DELE") {
            QVERIFY(AppHarness::select(h.remote(), 0, {"f"}));
            h.window().rdelete()->click();
        } else {
            h.window().rmkdir()->click();
            GetNameWindow *panel = shownNow<GetNameWindow>();
            QVERIFY(panel);
            panel->name()->setText(QStringLiteral("new"));
            panel->go()->click();
        }
        const QString line = word == "DELE" ? QStringLiteral("DELE //f") : QStringLiteral("MKD //new");
        // The reply comes back from the command engine's worker on a later pass.
        QTRY_VERIFY(log.contains(QStringLiteral("Commande refusee par le serveur (%1) : %2")
                                     .arg(QString::fromLatin1(reply.left(3)), line)));
        if (serverCloses)
            QTRY_COMPARE(h.state(), State::Disconnected);
        const bool alive = h.app().ftp() && h.app().ftp()->isConnected();
        QCOMPARE(h.state() == State::Connected, alive);
        QCOMPARE(log.count(QStringLiteral("disconnectRemote")), alive ? 0 : 1);
        if (serverCloses)
            QVERIFY(!alive);
    }

    // The command connection drops while a second column loads: one disconnect, queues
    // emptied, the transfer engines left without QUIT and then closed by the next connect,
    // which works as the first did.
    void lostCommandConnectionThenReconnect()
    {
        const QMap<QByteArray, QByteArray> listings{
            {"/", unixLine("drwxr-xr-x", "d") + unixLine("-rw-r--r--", "f.txt", 4)}};
        ScriptedFtpServer server(droppingServer(listings, {{"//f.txt", "data"}}, "/d"));
        AppHarness h;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));

        QVERIFY(AppHarness::select(h.remote(), 0, {"f.txt"}));
        h.window().Get()->click();
        QTRY_COMPARE(h.app().downloadQueue()->value(0).getStatus(), QStringLiteral("Done."));
        QCOMPARE(h.window().Downloads()->model()->rowCount(), 1);

        LogCapture log;
        QVERIFY(AppHarness::select(h.remote(), 0, {"d"}));
        QTRY_COMPARE(h.state(), State::Disconnected);
        QTest::qWait(0);
        QCoreApplication::processEvents();
        QCOMPARE(log.count(QStringLiteral("disconnectRemote")), 1);
        QCOMPARE(h.app().downloadQueue()->size(), 0);
        QCOMPARE(h.window().Downloads()->model()->rowCount(), 0);
        QVERIFY(!h.window().Get()->isEnabled());

        QVERIFY(h.connectThroughDialog(server.address(), "me", "pw"));
        QCOMPARE(h.state(), State::Connected);
        QStringList root = AppHarness::names(h.remote(), 0);
        QCOMPARE(root, (QStringList{"d", "f.txt"}));
        // The old transfer engines were never told QUIT, and are closed now. The logins ran
        // side by side: any of the first three connections may be the command engine's.
        for (int conn : {0, 1, 2}) {
            // The event loop runs meanwhile: busy engines are looked at again from it.
            QTRY_VERIFY2(server.waitForFinished(conn, 0),
                         qPrintable(QStringLiteral("connection %1 still open after: %2")
                                        .arg(conn).arg(QString::fromUtf8(server.received(conn)))));
            QVERIFY(commandsSent(server, conn, {"QUIT"}).isEmpty());
        }
        // Closed without a word: the script of each sees the end of its stream.
        QStringList failures = server.failures();
        failures.sort();
        QCOMPARE(failures.size(), 2);
        for (const QString &failure : failures)
            QVERIFY2(failure.contains(QRegularExpression(QStringLiteral("^connection [012]: end of stream"))),
                     qPrintable(failure));
    }

    void reconnectingLeaksNoConnection_data()
    {
        QTest::addColumn<bool>("downloading");
        QTest::newRow("idle engines") << false;
        QTest::newRow("replaced while a download runs") << true;
    }
    void reconnectingLeaksNoConnection()
    {
        QFETCH(bool, downloading);
        AppHarness h;
        // Large enough to be still on its way after four reconnects, fast as transfers are.
        const QByteArray big = patternBytes(96 << 20, 3);
        QVERIFY2(h.serve({{"big", big}}), h.why());
        QVERIFY2(h.launchConnected(), h.why());
        // Counted once the root's listing is in: its data connection is closed by then.
        QVERIFY(AppHarness::names(h.remote(), 0).contains(QStringLiteral("big")));
        const int descriptors = openDescriptorCount();

        std::weak_ptr<FTP> oldIn = h.downloadEngine();
        if (downloading) {
            QVERIFY(AppHarness::select(h.remote(), 0, {"big"}));
            h.window().Get()->click();
            // Watched closely: polled at the usual 50 ms, the whole download may pass unseen.
            QElapsedTimer waited;
            waited.start();
            while (!h.downloadEngine()->isTransferring() && waited.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QVERIFY(h.downloadEngine()->isTransferring());
        }
        for (int i = 0; i < 4; ++i) {
            h.app().connectWithAddress(h.server.address(), RealFtpServer::user(), RealFtpServer::password());
            QTRY_VERIFY(!h.app().isDialing());
            QCOMPARE(h.state(), State::Connected);
        }
        // A replaced download goes on to its end, and its connections close after it.
        QTRY_VERIFY_WITH_TIMEOUT(oldIn.expired(), 60000);
        // Retired engines close once their workers have finished, on a loaded machine later.
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptorCount(), descriptors, 30000);
        if (downloading)
            QCOMPARE(readFile(h.localFile("big")), big);
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
