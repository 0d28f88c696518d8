// SPDX-License-Identifier: GPL-3.0-or-later
// Every step of a login, a listing, a download and an upload, broken in every way a server
// or a network breaks it, one generated row each: a reset, silence, a 421, a garbled reply;
// on the data connection a reset, silence, a 421 meanwhile, or a cut (an early end of stream
// with a 426); the data steps again over TLS, where a stream cut without its close_notify is
// followed by a 226. Whatever happens, the engine answers within its limits, calls nothing
// whole that is not, leaves the user's file as it was, says truly whether it is connected,
// and stays in step when its control connection survived.
#include "ftp/FTP.h"

#include "TransferRecorder.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

enum class Flow { Login, Listing, Download, Upload };
enum class Fault { None, Reset, Silence, Closing, Garbled, Cut, TlsCut };
enum class Kind { Command, Reply, Data };

// One step of a flow: before a command the client sends (the server breaks off between
// commands), a reply (the command was read; the fault comes instead of the answer), or the
// data connection after `dataBytes` of the stream.
struct Step
{
    const char *label;
    Kind kind;
    QByteArray script; // what the server does at this step when nothing breaks
    int dataBytes = 0;  // for data steps: how far the stream goes before the fault
};

constexpr int kPayload = 40000;
const QByteArray kListing = "drwxr-xr-x 2 u g 4096 Jan  1  2020 pub\r\n"
                            "-rw-r--r-- 1 u g 1234 Jan  1  2020 a.txt\r\n"
                            "-rw-r--r-- 1 u g 99 Jan  1  2020 b.txt\r\n";
const QByteArray kOldContent = "the file the user already had\n";
// Whatever an engine does, it returns long before this with limits of a few hundred ms.
constexpr qint64 kBoundMs = 10000;

QByteArray flowName(Flow flow)
{
    switch (flow) {
    case Flow::Login: return "login";
    case Flow::Listing: return "listing";
    case Flow::Download: return "download";
    case Flow::Upload: return "upload";
    }
    return {};
}

QByteArray faultName(Fault fault)
{
    switch (fault) {
    case Fault::None: return "no fault";
    case Fault::Reset: return "reset";
    case Fault::Silence: return "silence";
    case Fault::Closing: return "421";
    case Fault::Garbled: return "garbled";
    case Fault::Cut: return "cut";
    case Fault::TlsCut: return "cut without close_notify";
    }
    return {};
}

// The login is answered explicitly, FEAT included, so that a step after it is reached only
// once the client waits for its next action.
const QByteArray kLoggedIn = R"(login; expect FEAT; reply "502 No features")";
// The same over TLS, data connections protected.
const QByteArray kLoggedInTls = R"(greet; auth-tls; expect "USER "; reply "331 Password required"
    expect "PASS "; reply "230 Logged in"; expect FEAT; reply "502 No features"
    expect "PBSZ 0"; reply "200 PBSZ=0"; expect "PROT P"; reply "200 Protection level set to P"; protect)";

std::vector<Step> steps(Flow flow)
{
    const auto pair = [](const char *before, const char *reply, QByteArray command, QByteArray answer) {
        return std::vector<Step>{{before, Kind::Command, "expect " + quoted(command)},
                                 {reply, Kind::Reply, answer}};
    };
    std::vector<Step> out;
    const auto add = [&out](std::vector<Step> more) { out.insert(out.end(), more.begin(), more.end()); };
    const int size = flow == Flow::Listing ? int(kListing.size()) : kPayload;
    const std::vector<Step> data{{"data opening", Kind::Data, {}, 0},
                                 {"data middle", Kind::Data, {}, size / 2},
                                 {"data end", Kind::Data, {}, size - 3}};
    const QByteArray mode = flow == Flow::Listing ? "A" : "I";
    switch (flow) {
    case Flow::Login:
        out.push_back({"greeting", Kind::Reply, "greet"});
        add(pair("before USER", "reply to USER", "USER ", R"(reply "331 Password required")"));
        add(pair("before PASS", "reply to PASS", "PASS ", R"(reply "230 Logged in")"));
        add(pair("before FEAT", "reply to FEAT", "FEAT", R"(reply "502 No features")"));
        return out;
    case Flow::Listing:
        add(pair("before CWD", "reply to CWD", "CWD /pub", R"(reply "250 Okay")"));
        break;
    case Flow::Download:
    case Flow::Upload:
        break;
    }
    add(pair("before PASV", "reply to PASV", "PASV", "passive"));
    add(pair("before TYPE", "reply to TYPE", "TYPE " + mode, R"(reply "200 Type set")"));
    const QByteArray command = flow == Flow::Listing ? "LIST" : flow == Flow::Download ? "RETR /pub/a.bin" : "STOR /in/up.bin";
    add(pair("before the transfer command", "reply to the transfer command", command, R"(reply "150 Here it comes")"));
    add(data);
    out.push_back({"completion reply", Kind::Reply, R"(reply "226 Transfer complete")"});
    return out;
}

// The whole data connection when nothing breaks.
QByteArray wholeData(Flow flow)
{
    return flow == Flow::Upload ? "receive" : "data $payload";
}

// The server's side of a data connection broken after `bytes` of the stream. A download
// reset is followed by a 226, as a careless server sends it: the client saw the reset.
QByteArray dataFault(Flow flow, Fault fault, int bytes)
{
    const QByteArray start = flow == Flow::Upload ? "accept; dreceive " + QByteArray::number(bytes)
                                                  : "accept; dsend $head";
    const QByteArray aborted = R"(reply "426 Connection closed; transfer aborted")";
    switch (fault) {
    case Fault::Reset:
        return start + "; dreset; " + (flow == Flow::Upload ? aborted : R"(reply "226 Transfer complete")") + "; step";
    case Fault::Silence:
        return start + "; dhold; step";
    case Fault::Closing:
        return start + R"(; reply "421 Service not available, closing control connection"; close; dclose; eof)";
    case Fault::Cut:
        return start + "; dclose; " + aborted + "; step";
    case Fault::TlsCut:
        // The server believes all went out; only the missing close_notify tells the client.
        return start + R"(; dcut; reply "226 Transfer complete"; step)";
    case Fault::None:
    case Fault::Garbled:
        break;
    }
    return {};
}

// What the server does instead of a control step.
QByteArray controlFault(Fault fault)
{
    switch (fault) {
    case Fault::Reset: return "reset";
    case Fault::Silence: return "silence";
    case Fault::Closing: return R"(reply "421 Service not available, closing control connection"; close; eof)";
    case Fault::Garbled: return R"(send "\x16\x03\x01 \xff\xfe garbled \x01\r\n"; step)";
    case Fault::None:
    case Fault::Cut:
    case Fault::TlsCut:
        break;
    }
    return {};
}

bool applies(Kind kind, Fault fault)
{
    switch (kind) {
    case Kind::Command: return fault == Fault::Reset || fault == Fault::Closing;
    case Kind::Reply: return fault != Fault::Cut && fault != Fault::TlsCut && fault != Fault::None;
    case Kind::Data: return fault != Fault::Garbled && fault != Fault::None && fault != Fault::TlsCut;
    }
    return false;
}

// Whether the fault leaves the server's side of the control connection gone or unanswering.
bool breaksControl(Kind kind, Fault fault)
{
    return kind != Kind::Data ? fault != Fault::Garbled : fault == Fault::Closing;
}

// The server's script for one cell: the flow's steps up to `at`, then the fault. Without a
// fault, the whole flow.
QByteArray cellScript(Flow flow, int at, Fault fault, bool tls)
{
    const std::vector<Step> all = steps(flow);
    QByteArray script = flow == Flow::Login ? QByteArray() : (tls ? kLoggedInTls : kLoggedIn) + '\n';
    bool dataDone = false;
    for (int i = 0; i < int(all.size()); ++i) {
        const Step &step = all[size_t(i)];
        if (i == at) {
            script += step.kind == Kind::Data ? dataFault(flow, fault, step.dataBytes) : controlFault(fault);
            return script;
        }
        if (step.kind != Kind::Data) {
            script += step.script + '\n';
        } else if (!dataDone && (at < 0 || all[size_t(at)].kind != Kind::Data)) {
            script += wholeData(flow) + '\n';
            dataDone = true;
        }
    }
    return script + "step";
}

} // namespace

Q_DECLARE_METATYPE(Flow)
Q_DECLARE_METATYPE(Fault)

class TestFaults final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyStepBroken_data();
    void everyStepBroken();
};

void TestFaults::initTestCase()
{
    // The scripted server's certificate is self-signed.
    FTP::setCertificateCheck([](const QString &, const TlsPeer &) { return CertificateVerdict::Known; });
}

void TestFaults::cleanupTestCase()
{
    FTP::setCertificateCheck({});
}

void TestFaults::everyStepBroken_data()
{
    QTest::addColumn<Flow>("flow");
    QTest::addColumn<int>("at"); // step index, -1 for the unbroken flow
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("tls");

    for (const Flow flow : {Flow::Login, Flow::Listing, Flow::Download, Flow::Upload}) {
        QTest::addRow("%s: no fault", flowName(flow).constData()) << flow << -1 << Fault::None << false;
        const std::vector<Step> all = steps(flow);
        for (int at = 0; at < int(all.size()); ++at) {
            for (const Fault fault : {Fault::Reset, Fault::Silence, Fault::Closing, Fault::Garbled, Fault::Cut}) {
                if (applies(all[size_t(at)].kind, fault))
                    QTest::addRow("%s: %s, %s", flowName(flow).constData(), all[size_t(at)].label,
                                  faultName(fault).constData())
                        << flow << at << fault << false;
            }
        }
    }
    // The data steps again over TLS, and the stream cut without its close_notify where the
    // client receives.
    for (const Flow flow : {Flow::Listing, Flow::Download, Flow::Upload}) {
        QTest::addRow("TLS %s: no fault", flowName(flow).constData()) << flow << -1 << Fault::None << true;
        const std::vector<Step> all = steps(flow);
        for (int at = 0; at < int(all.size()); ++at) {
            if (all[size_t(at)].kind != Kind::Data)
                continue;
            for (const Fault fault : {Fault::Reset, Fault::Silence, Fault::Closing, Fault::Cut, Fault::TlsCut}) {
                if (fault == Fault::TlsCut && flow == Flow::Upload)
                    continue;
                QTest::addRow("TLS %s: %s, %s", flowName(flow).constData(), all[size_t(at)].label,
                              faultName(fault).constData())
                    << flow << at << fault << true;
            }
        }
    }
}

void TestFaults::everyStepBroken()
{
    QFETCH(Flow, flow);
    QFETCH(int, at);
    QFETCH(Fault, fault);
    QFETCH(bool, tls);

    const QByteArray payload = flow == Flow::Listing ? kListing : patternBytes(kPayload, 3);
    const int headBytes = at >= 0 ? steps(flow)[size_t(at)].dataBytes : 0;
    // A session the engine opens again gets an unbroken login, then answers in step.
    ScriptedFtpServer server(scriptedPerConnection({cellScript(flow, at, fault, tls), (tls ? kLoggedInTls : kLoggedIn) + "; step"},
                                                   {{"payload", payload}, {"head", payload.first(headBytes)}}));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("a.bin"));
    QVERIFY(writeFile(local, flow == Flow::Upload ? payload : kOldContent));

    QElapsedTimer clock;
    clock.start();
    std::shared_ptr<FTP> ftp;
    try {
        // Short limits keep the whole matrix quick; every check below is far more generous.
        FTP::Settings settings = FTP::defaultSettings();
        settings.timeouts = {2000, 300, 1000, 300, 600};
        const QString address = tls ? QStringLiteral("ftpes://127.0.0.1:%1").arg(server.port()) : server.address();
        ftp = FTP::connectTo(address, QStringLiteral("user"), QStringLiteral("secret"), {}, settings);
    } catch (const NetworkException &) {
        QVERIFY2(flow == Flow::Login && fault != Fault::None, "the connect failed");
        QVERIFY2(clock.elapsed() < kBoundMs, "the connect waited past its limits");
        return;
    }
    QVERIFY2(clock.elapsed() < kBoundMs, "the connect waited past its limits");
    QVERIFY(flow == Flow::Login || ftp->isConnected());

    TransferRecorder recorder(ftp.get());
    QString status; // of the completion, when a transfer started
    std::optional<QList<File>> listed;
    clock.restart();
    if (flow == Flow::Listing) {
        listed = ftp->list(QStringLiteral("/pub"));
    } else if (flow != Flow::Login) {
        const int started = flow == Flow::Download ? ftp->get(QStringLiteral("/pub/a.bin"), local, 1)
                                                   : ftp->put(local, QStringLiteral("/in/up.bin"), 1);
        // Anything but a refusal (or a start that could not be made) has started a worker.
        const bool running = started != -1 && started < 400;
        if (running) {
            QVERIFY2(recorder.waitForCompletion(kBoundMs), "no completion within the bound");
            status = recorder.completion().userInfo.value(QStringLiteral("status"));
        }
        QVERIFY(recorder.flush());
        QCOMPARE(recorder.completions(), running ? 1 : 0);
        QVERIFY(!ftp->isTransferring());
    }
    QVERIFY2(clock.elapsed() < kBoundMs, "the operation waited past its limits");

    // Nothing called whole that is not.
    if (flow == Flow::Listing && listed) {
        QStringList names;
        for (const File &f : *listed)
            names << f.name();
        QCOMPARE(names, QStringList({QStringLiteral("pub"), QStringLiteral("a.txt"), QStringLiteral("b.txt")}));
    }
    if (flow == Flow::Download)
        QCOMPARE(readFile(local), status == u"226" ? payload : kOldContent);
    if (flow == Flow::Upload && status == u"226")
        QCOMPARE(server.dataReceived(0), payload);
    if (fault == Fault::None) {
        QVERIFY(ftp->isConnected());
        if (flow == Flow::Listing)
            QVERIFY(listed.has_value());
        if (flow == Flow::Download || flow == Flow::Upload)
            QCOMPARE(status, QStringLiteral("226"));
    }

    // The engine says truly whether its session is there.
    const Kind kind = at >= 0 ? steps(flow)[size_t(at)].kind : Kind::Reply;
    // (Before a command, the session closed while idle may have been opened anew.)
    if (fault != Fault::None && breaksControl(kind, fault) && server.connectionCount() == 1)
        QVERIFY2(!ftp->checkControlConnection(), "the engine holds on to a broken control connection");
    // The next command gets its own reply: from this session in step, from a new session,
    // or none at all from an engine that closed.
    const bool connected = ftp->isConnected();
    clock.restart();
    const int next = ftp->command(QStringLiteral("NOOP"));
    QVERIFY2(clock.elapsed() < kBoundMs, "the next command waited past its limits");
    if (connected || fault == Fault::None)
        QCOMPARE(next, 254);
    else
        QVERIFY2(next == 254 || next == -1, qPrintable(QStringLiteral("NOOP answered with %1").arg(next)));
    if (fault == Fault::None)
        QCOMPARE(server.failures(), QStringList());
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
