// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A scripted FTP server on 127.0.0.1 for protocol tests.
//
// Tests call the blocking engine on the main thread, so the server serves from its own
// threads with plain POSIX sockets: one thread accepts control connections, and every
// accepted connection runs the test's script on a thread of its own, so several
// connections can be open at once (the application opens three engines to one server).
//
// A script is a function that receives the Session of one control connection and plays
// the server's side of the exchange, step by step:
//
//     ScriptedFtpServer server([](ScriptedFtpServer::Session &s) {
//         s.greetAndLogin();                           // 220, USER -> 331, PASS -> 230
//         s.expect("CWD /pub");
//         s.line("250 Okay");
//         s.expect("PASV");
//         s.line(s.openPassive());                     // "227 Entering Passive Mode (...)."
//         s.expect("TYPE A");
//         s.line("200 Type set");
//         s.expect("LIST");
//         s.line("150 Here it comes");
//         s.sendData("-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n");   // then closes
//         s.line("226 Done");
//         s.answerRest();                              // 200 to anything, 221 to QUIT
//     });
//     auto ftp = FTP::connectTo(server.address(), "user", "secret");
//     ...
//     QVERIFY(server.waitForReceived(0, "CWD /pub\r\n"));
//     QCOMPARE(server.failures(), QStringList());
//
// Steps block until they are done: expect() waits for one client line, sendData() for the
// client's data connection. Everything the client writes on a control connection is
// recorded as it arrives (received()), everything it uploads through receiveData() too
// (dataReceived()). A line that does not match expect() is recorded in failures() and ends
// the script; the control connection is then closed, so the client sees end of stream
// instead of hanging. When the script returns, its control connection is closed.
//
// The destructor wakes every blocked step (stall(), a client that never connects, a read
// that never completes), joins all threads and closes every socket, so a test never hangs
// at its end whatever state the client left the server in.
namespace zodaru {

class ScriptedTlsStream;

class ScriptedFtpServer final
{
public:
    class Session;

    // One accepted passive data connection. Moving it keeps the socket; the destructor
    // closes it (FIN, without a TLS close_notify) unless reset() or close() already did.
    // On a session whose data is protected (Session::protectData()), the connection speaks
    // TLS from its acceptance on.
    class DataConnection final
    {
    public:
        DataConnection(DataConnection &&other) noexcept;
        DataConnection &operator=(DataConnection &&other) noexcept;
        DataConnection(const DataConnection &) = delete;
        DataConnection &operator=(const DataConnection &) = delete;
        ~DataConnection();

        void send(QByteArrayView bytes);
        // Reads until the client closes its side; the bytes are returned and recorded.
        QByteArray receiveAll();
        // Reads exactly `count` bytes (fewer when the client closes first).
        QByteArray receive(qsizetype count);
        // Orderly close (close_notify under TLS, then FIN): what a server does at the end
        // of a listing or a file.
        void close();
        // FIN without a close_notify: under TLS, a stream cut short by someone in between.
        void cut();
        // Sends FIN but keeps reading; returns once the client has closed its side too.
        void finishAndWaitForClose();
        // Abortive close (SO_LINGER 0, RST): the client's next read or write fails.
        void reset();
        // Keeps the connection open and silent until the server is destroyed.
        [[noreturn]] void stall();

    private:
        friend class Session;
        DataConnection(Session *session, int fd, std::unique_ptr<ScriptedTlsStream> tls);
        Session *m_session;
        int m_fd;
        std::unique_ptr<ScriptedTlsStream> m_tls;
    };

    // The server's side of one control connection, handed to the script.
    class Session final
    {
    public:
        Q_DISABLE_COPY_MOVE(Session)
        ~Session();

        // Index of this control connection, in the order of acceptance (0, 1, ...).
        int index() const { return m_index; }

        // Sends bytes exactly as given: the test controls CR, LF and bytes above 127.
        void send(QByteArrayView raw);
        // Sends one line followed by CR LF.
        void line(QByteArrayView text);
        // Every later send on the control connection waits this long first: a server far
        // away or slow (benchmarks of a window that must not wait for it).
        void setReplyDelay(int ms) { m_replyDelayMs = ms; }

        // Reads one client line up to CR LF (the CR LF is not returned). Throws, ending
        // the script, at end of stream.
        QByteArray readLine();
        // The same, but false at end of stream instead of a failure.
        bool readLineOrEof(QByteArray &out);
        // Reads one line and checks that it starts with `prefix`; a mismatch is recorded
        // in failures() and ends the script. Returns the line.
        QByteArray expect(QByteArrayView prefix);
        // Reads `count` lines, whatever they are.
        void skipLines(int count);
        // The parameter of the last "CWD" line read so far ("/" before any), so a script
        // can answer a bare LIST with the directory the client changed into.
        QByteArray workingDirectory() const { return m_cwd; }
        // Waits until the client closes the control connection; returns true at end of
        // stream. Anything the client sends meanwhile is recorded, not answered.
        bool waitForEof();

        // The usual opening: "220 ..." greeting, USER answered with 331, PASS with 230.
        void greetAndLogin();
        // What the next expect() answers on its own when the client sends FEAT or
        // "OPTS UTF8 ..." instead of the line expected: these feature lines ("EPSV",
        // "MLST type*;size*;", "REST STREAM", ...), or 502 while there are none.
        void offerFeatures(QList<QByteArray> lines) { m_features = std::move(lines); }
        // Answers every remaining command: QUIT with "221 Bye" (then closes), anything
        // else with "200 OK"; returns at end of stream.
        void answerRest();

        // Records that the script reached a point the test waits for (waitForMark()).
        void mark(QByteArrayView name);
        // Waits until the test lets the script go on (ScriptedFtpServer::release()).
        void awaitRelease(QByteArrayView name);

        // TLS on the control connection from now on: the server's handshake (after the
        // script's "234" reply to AUTH TLS). A failed handshake ends the script.
        void startTls();
        // Whether data connections accepted from now on speak TLS (after PROT P).
        void protectData(bool on) { m_protectData = on; }

        // Closes the control connection (FIN), e.g. in the middle of a multi-line reply.
        void closeControl();
        // Abortive close of the control connection (RST).
        void resetControl();
        // Never answers again: keeps recording what the client sends until the server is
        // destroyed.
        [[noreturn]] void stall();

        // Opens a new passive listener on 127.0.0.1 (the OS picks the port), replacing a
        // previous one, and returns the matching reply line without CR LF:
        // "227 Entering Passive Mode (127,0,0,1,p1,p2).".
        QByteArray openPassive();
        quint16 passivePort() const { return m_passivePort; }
        // EPSV's reply line naming `port`: "229 Extended (|||port|)".
        static QByteArray epsvReply(quint16 port) { return "229 Extended (|||" + QByteArray::number(port) + "|)"; }
        // Accepts the client's connection on the current passive listener.
        DataConnection acceptData();

        // Shortcuts for one data connection: accept, then...
        void sendData(QByteArrayView bytes);   // ...send and close (LIST, RETR)
        QByteArray receiveData();              // ...read to EOF, record, close (STOR)
        void resetData(QByteArrayView sendFirst = {});   // ...send, then RST
        void resetDataAfterReceiving(qsizetype count);   // ...read `count` bytes, then RST
        void closeDataEarly();                 // ...close at once without data
        // ...send, end the stream, and return only once the client has closed its side
        // (servers that send the completion reply after the client's close).
        void sendDataThenWaitForClose(QByteArrayView bytes);
        // The usual exchange of a listing or a download: the preliminary reply ("150 ..."),
        // the data on one connection (sendData), then the completion reply.
        void sendReply(QByteArrayView preliminary, QByteArrayView bytes, QByteArrayView completion);
        // A listing or download asked for one command at a time: EPSV, "TYPE `type`" and
        // `command`, each answered in turn, then sendReply() with `bytes`.
        void transferAfterEpsv(QByteArrayView type, QByteArrayView command, QByteArrayView bytes);
        [[noreturn]] void stallData(QByteArrayView sendFirst = {}); // ...send, then hang

    private:
        friend class ScriptedFtpServer;
        friend class DataConnection;
        Session(ScriptedFtpServer *server, int index, int fd);

        // Waits until `fd` is readable (or writable); throws when the server stops.
        void waitFor(int fd, bool forWrite);
        // Writes all of `bytes` on `fd`, through `tls` when given.
        void sendOn(int fd, ScriptedTlsStream *tls, QByteArrayView bytes);
        // Waits, then reads once: > 0 bytes read, 0 at end of stream, < 0 on an error.
        qsizetype receiveOn(int fd, ScriptedTlsStream *tls, char *buffer, qsizetype size);
        // One read into `buffer`; false at end of stream or on error.
        bool fillControl();
        // Takes one CR LF-terminated line out of m_pending; false when none is complete.
        bool takeLine(QByteArray &out);
        void closeListener();
        [[noreturn]] void waitForStop();

        ScriptedFtpServer *m_server;
        int m_index;
        int m_fd;
        int m_listenFd = -1;
        quint16 m_passivePort = 0;
        QByteArray m_pending; // read from the control connection, not yet consumed
        QByteArray m_cwd = "/";
        int m_replyDelayMs = 0;
        QList<QByteArray> m_features;
        std::unique_ptr<ScriptedTlsStream> m_controlTls;
        bool m_protectData = false;
    };

    using Script = std::function<void(Session &)>;

    // Starts listening at once; every control connection runs `script`. A script may look
    // at Session::index() to play differently on each connection.
    explicit ScriptedFtpServer(Script script);
    ~ScriptedFtpServer();
    Q_DISABLE_COPY_MOVE(ScriptedFtpServer)

    quint16 port() const { return m_port; }
    // "ftp://127.0.0.1:<port>", the server text that the engine accepts: in clear, as
    // scripts speak plain FTP and never expect AUTH TLS.
    QString address() const;

    // Control connections accepted so far.
    int connectionCount() const;
    bool waitForConnections(int count, int timeoutMs = 10000) const;

    // Every byte received on control connection `conn` so far (empty for an unknown one).
    QByteArray received(int conn) const;
    // Waits until the bytes received on `conn` contain `needle`.
    bool waitForReceived(int conn, QByteArrayView needle, int timeoutMs = 10000) const;
    // Waits until `conn`'s received bytes hold at least `lines` CR LF-terminated lines.
    bool waitForLines(int conn, int lines, int timeoutMs = 10000) const;

    // Bytes read on the data connections of `conn` (receiveData, receive, receiveAll).
    QByteArray dataReceived(int conn) const;
    // Number of data connections accepted for `conn`. The script accepts after the
    // client has connected, so right after a client call returns the count may still lag:
    // wait for it rather than read it when the client has just opened one.
    int dataConnectionCount(int conn) const;
    bool waitForDataConnections(int conn, int count, int timeoutMs = 10000) const;

    // Waits until the script of `conn` has ended and its control connection is closed.
    bool waitForFinished(int conn, int timeoutMs = 10000) const;

    // Lets every script waiting in Session::awaitRelease(`name`), now or later, go on.
    void release(QByteArrayView name);
    // Waits until the script of `conn` has passed Session::mark(`name`).
    bool waitForMark(int conn, QByteArrayView name, int timeoutMs = 10000) const;

    // Script failures: unexpected lines, unexpected end of stream, exceptions.
    QStringList failures() const;

private:
    struct Record
    {
        QByteArray control;
        QByteArray data;
        int dataConnections = 0;
        QList<QByteArray> marks;
        bool finished = false;
    };

    void acceptLoop();
    void runSession(int index, int fd);
    void recordControl(int index, QByteArrayView bytes);
    void recordData(int index, QByteArrayView bytes);
    void recordFailure(int index, const QString &what);
    template <typename Pred>
    bool waitUntil(int timeoutMs, Pred pred) const;

    Script m_script;
    int m_listenFd = -1;
    int m_wakeRead = -1; // readable once the server stops: wakes every poll()
    int m_wakeWrite = -1;
    quint16 m_port = 0;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Record> m_records;
    QStringList m_failures;
    QList<QByteArray> m_released;

    std::thread m_acceptThread;
    std::vector<std::thread> m_sessionThreads; // touched by the accept thread only, then joined
};

} // namespace zodaru
