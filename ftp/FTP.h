// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/CertificateStore.h"
#include "ftp/ProtocolReplies.h"
#include "ftp/TlsCertificate.h"
#include "ftp/TlsContext.h"
#include "ftp/TransferEvent.h"
#include "model/File.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace zodaru {

class ConnectCanceller;
class FileReceiver;
struct PartOrigin;
class Socket;
class TlsContext;
struct ServerAddress;

// Raised when a TCP connection cannot be opened. name() is "NetworkException"; reason()
// is "<label> [errno(<n>) : <text>]".
class NetworkException final : public std::runtime_error {
public:
    explicit NetworkException(const QString &reason);
    static QString name() { return QStringLiteral("NetworkException"); }
    QString reason() const { return QString::fromUtf8(what()); }
};

// How a session is protected: Tls once its control connection is encrypted.
enum class Protection { Clear, Tls };

// What a connect must reach before the password goes out.
struct ProtectionPolicy {
    // The least the session must have. Tls asks for AUTH TLS whatever the server text and
    // makes a refusal a failed connect (NetworkException, FTP::SecurityFailure::TlsRefused):
    // the other engines of a session whose first engine had TLS, and every reopening.
    Protection required = Protection::Clear;
    // For a bare host whose server refuses AUTH TLS: go on in clear (the user agreed), or
    // close before USER is sent (not connected, FTP::SecurityFailure::ClearNotAllowed).
    bool clearAllowed = true;
};

// One logged-in FTP connection: a control connection (PI) and at most one passive data
// connection at a time (DTP). Synchronous: each operation blocks until its reply is read.
//
// Engines live in std::shared_ptr: a transfer worker holds a reference to its engine until
// it has posted its completion, so dropping or replacing an engine mid-transfer is safe.
// An engine moves the data of its transfers on one thread of its own, made at its first
// transfer and ended with the engine.
// While a worker runs, only close() and shutdown() may be called from another thread.
class FTP final : public std::enable_shared_from_this<FTP> {
public:
    // Time limits, in milliseconds. A time-out counts as a lost connection.
    struct Timeouts {
        int controlConnect = 15000;
        int replyLine = 30000;
        int dataConnect = 15000;
        int dataIdle = 60000;  // without a byte on a data connection (listing or transfer)
        int replyTotal = 60000; // a whole reply, all its continuation lines included
    };

    // Size limits, in bytes: a server that never ends a reply or a listing must not fill
    // the memory. Going past one counts as a lost connection too.
    // A listing read whole is cut, not failed, at `listingEntries` entries or when its
    // entries would take more than twice `listingBytes`: the user sees the first ones.
    struct Limits {
        qint64 replyBytes = 1024 * 1024;
        qint64 listingBytes = 256 * 1024 * 1024;
        qint64 listingEntries = 2'000'000;
    };

    // What an engine is given when it is made and keeps for its life.
    struct Settings {
        Timeouts timeouts;
        Limits limits;
        // Where its transfers are told; null: the process's NotificationCenter.
        TransferEventSink *events = nullptr;
    };
    // The settings engines get when none are given: the defaults above unless changed.
    // An engine keeps what it was made with; changing these touches no engine made before.
    static Settings defaultSettings();
    static void setDefaultSettings(const Settings &settings);
    // Shorthands for the two parts of the defaults.
    static Timeouts timeouts() { return defaultSettings().timeouts; }
    static void setTimeouts(const Timeouts &t);
    static Limits limits() { return defaultSettings().limits; }
    static void setLimits(const Limits &l);

    // An engine that never had a connection.
    static std::shared_ptr<FTP> create(const Settings &settings = defaultSettings());
    // This engine's number: unique in the process, never reused, so that its events and
    // results are told apart from those of any other engine, past or future.
    quint64 id() const { return id_; }
    const Settings &settings() const { return settings_; }
    // Connected, greeting read, not logged in. Throws NetworkException.
    static std::shared_ptr<FTP> connectTo(const QString &address, const Settings &settings = defaultSettings());
    // Connected and logged in with USER then PASS, then FEAT (and OPTS UTF8 ON when the
    // server offers UTF8). Throws NetworkException. Whether the login succeeded shows in
    // isConnected().
    // How the session is protected follows the server text (see ServerAddress): "ftps://"
    // speaks TLS from the first byte; a bare host and "ftpes://" ask for AUTH TLS after
    // the greeting, and a bare host goes on in clear when the server does not agree, while
    // "ftpes://" throws NetworkException (reason starting with "AUTH TLS"). A failed TLS
    // handshake throws too ("TLS ..."). Once logged in over TLS, PBSZ 0 and PROT P encrypt
    // the data connections; a refused PROT P closes the session (not connected, not a
    // refused login). A certificate neither verified nor accepted by the CertificateCheck
    // leaves the engine not connected, without an exception: see certificateRefusal().
    // A logged-in engine reopens its session once when the server closed it while idle
    // (see reopenIfClosedWhileIdle), with at least the protection it had.
    // `policy` says how much protection the session must reach before the password goes
    // out; by default a bare host goes on in clear when the server refuses AUTH TLS.
    static std::shared_ptr<FTP> connectTo(const QString &address, const QString &login,
                                          const QString &password, ProtectionPolicy policy = {},
                                          const Settings &settings = defaultSettings());
    // The same on an engine made beforehand with create(), so that another thread can give
    // the attempt up meanwhile (giveUp()). Throws NetworkException.
    static void connectInto(const std::shared_ptr<FTP> &engine, const QString &address,
                            const QString &login, const QString &password, ProtectionPolicy policy = {});
    // Why the last connect or reopening failed for the session's protection.
    enum class SecurityFailure {
        None,
        TlsRefused,            // TLS was required and the server refused AUTH TLS
        ClearNotAllowed,       // a bare host refused AUTH TLS and clear was not agreed to
        DataProtectionRefused, // PBSZ 0 or PROT P refused: the session was closed
    };
    SecurityFailure securityFailure() const { return securityFailure_.load(); }
    // How the last login was protected (Clear before any). A reopened session never has
    // less than the login before it. Any thread.
    Protection protection() const { return protection_.load(); }
    // Closes the engine for good, from any thread, even while it is still connecting: the
    // same as close().
    void giveUp();
    // The user ended the session (disconnect, quit), from any thread: from now on the engine
    // makes no connection, so a session the server closed is never reopened, and a connect
    // in progress (login, reopening, data connection) is abandoned at once. What runs goes
    // on; shutdown() or close() follows.
    void endSession();
    // True when the server refused the last login (not a lost or silent peer).
    bool loginRefused() const { return loginRefused_; }

    // --- TLS ---
    // Decides about the certificate a server presented: `server` is
    // CertificateStore::key(host, port). Called on the connecting thread; the function must
    // be thread-safe. Without one, only a certificate that verifies is accepted.
    using CertificateCheck = std::function<CertificateVerdict(const QString &server, const TlsPeer &peer)>;
    static void setCertificateCheck(CertificateCheck check);
    // The process-wide TLS settings (tests add their server's certificate to the trust).
    static TlsContext &tlsContext();
    // A certificate that was neither verified nor trusted stopped the last connect: the
    // engine is not connected and this says what the user has to decide about.
    struct CertificateRefusal {
        QString server; // CertificateStore::key(host, port)
        TlsPeer peer;
        CertificateVerdict verdict = CertificateVerdict::Unknown; // Unknown or Changed
    };
    std::optional<CertificateRefusal> certificateRefusal() const;
    // Whether the session's control connection is encrypted, and with what
    // ("TLSv1.3, TLS_AES_256_GCM_SHA384"); empty when in clear.
    bool isEncrypted() const;
    QString tlsDescription() const;
    ~FTP();
    Q_DISABLE_COPY_MOVE(FTP)

    bool isConnected();
    // Sends one command and reads its reply; returns the reply's code. -1 when the line
    // holds a CR or LF (refused, nothing sent), cannot be sent, or its reply is cut short
    // or shorter than a code. A refusal (4xx, 5xx) fails this command only: the engine
    // closes on 421, a time-out, a limit passed or a broken control connection.
    int command(const QString &line);
    int command(const QString &word, const QString &param);
    int ret();
    int cd(const QString &path);
    // TYPE A, QUIT, then close(); a session already closed, by this side or by the server,
    // is only closed, without a word and without reopening it.
    void shutdown();
    // Drops both connections and ends the session (see endSession()); final. Any thread.
    void close();

    // Opens a TCP connection to `address` (a host name, IPv4 or IPv6 literal; not a server
    // text with a port): every address the resolver gives, IPv6 and IPv4, is tried in its
    // order until one answers, all within `connectTimeoutMs`. Throws NetworkException.
    // `canceller`, when given, abandons the attempt at once once cancelled (errno ECANCELED).
    static int createSocket(const QString &address, int port, int connectTimeoutMs,
                            const ConnectCanceller *canceller = nullptr);

    // What the server announced in its FEAT reply (nothing before login or when refused).
    const ServerFeatures &features() const { return features_; }

    // Passive data connection and listing. pasv() drops the engine's previous data
    // connection and leaves none when the exchange fails; it asks with EPSV when the server
    // offers it or the session runs over IPv6, and with PASV once EPSV was refused. list()
    // changes into `path` (CWD) and lists it without an argument, with MLSD when offered
    // (LIST from the first MLSD refusal on); size() asks SIZE when offered, else lists
    // `path` itself, which may be a file.
    // `type` ("A" or "I"), when given, is the representation type the caller sets next:
    // once EPSV has worked on this engine, its TYPE command goes in the same write as EPSV
    // and its reply waits for setType(), which saves a round trip per transfer.
    void pasv(const QString &type = QString());
    // TYPE `type`: the reply to the one pasv() sent along, or a TYPE exchange now.
    int setType(const QString &type);
    std::optional<QList<File>> list(const QString &path);
    qint64 size(const QString &path);

    // Transfers: the exchange runs on the caller's thread, the data on another that reports
    // through NotificationCenter: called from a JobThread's job, that thread right after
    // the job (it hands the result back first); otherwise the engine's own transfer thread.
    // Results are the RETR/STOR reply code or -1. A start that fails (PASV, TYPE or the
    // transfer command refused, not sent or unanswered; an upload source that is not a
    // regular file) starts no worker, posts nothing and closes the data connection it made,
    // so the engine is ready for the next one.
    int get(const QString &remote, const QString &savedName, int id);
    int get(const QString &remote, int id);
    int put(const QString &local, const QString &remote, int id);

    // Where the last get() continued a partial file from (REST), 0 when it started over.
    // A partial file is continued only for the same server, user and remote path, the
    // file's size and date as they were when it began, and only when it is shorter.
    // The progress notifications count only the bytes moved by this transfer.
    qint64 resumeOffset() const { return resumeOffset_; }
    // The size of the file the last put() started to send, as opened; -1 when none opened.
    qint64 uploadSize() const { return uploadSize_; }

    // True from a transfer's start until its worker has posted its completion.
    bool isTransferring() const { return transferRunning_.load(); }
    // Stops the running transfer at once by shutting its data connection down; its worker
    // reports it as broken (a download's partial file removed). The control connection stays
    // usable when the server answers the stop at once; otherwise it is closed, so the engine
    // is free either way within a moment. Any thread.
    void cancelTransfer();
    // Between commands, without blocking and without reading a byte: false when the control
    // connection has ended, was reset or holds a 421. A session that can be reopened (see
    // reopensWhenUsed()) is left as it is, the server having only ended an idle session
    // (its time-out); any other is closed.
    bool checkControlConnection();
    // True when the next action would open the session again should the server have closed
    // it while idle: logged in with a password, and the session not ended.
    bool reopensWhenUsed() const;
    // NOOP on an idle session, so that the server's idle time-out does not end it. Nothing
    // is sent while a transfer runs or to a session the server already closed (the next
    // action reopens that one): keeping alive never reconnects.
    void keepAlive();

    // For quitting: closes the engine of every running transfer of the process, which stops
    // its worker; a download's partial file is removed by its worker. (A close() from
    // outside the engine always means the user stopped: only a broken connection keeps a
    // partial file for a later resume.)
    static void stopAllTransfers();
    // Waits at most `timeoutMs` for every transfer worker of the process to end; true when
    // none is left, so nothing of the program can still be used by one.
    static bool waitForTransfers(int timeoutMs);

private:
    explicit FTP(const Settings &settings);
    // Where this engine's transfer events go.
    TransferEventSink &events() const;

    // Counts nested public operations, so that only the outermost one checks for a session
    // the server closed while idle (and reopens it).
    class Action final {
    public:
        explicit Action(FTP &ftp) : ftp_(ftp)
        {
            if (ftp_.actionDepth_++ == 0)
                ftp_.reopenIfClosedWhileIdle();
        }
        ~Action() { --ftp_.actionDepth_; }
        Q_DISABLE_COPY_MOVE(Action)

    private:
        FTP &ftp_;
    };

    // Opens the control connection to the server text, reads the greeting and sets up TLS
    // as the text asks (see connectTo()). Throws NetworkException.
    void open(const QString &address);
    // Runs the control connection's handshake for `server` and decides about its
    // certificate; false when the certificate was refused (the connection is dropped).
    // Throws NetworkException when the handshake fails.
    bool secureControlConnection(const ServerAddress &server);
    // PBSZ 0 and PROT P after a login over TLS; false (session closed) when refused.
    bool protectDataConnections();
    // Once the server accepted a listing or transfer with reply `code`, encrypts its data
    // connection when the session is encrypted, resuming the control connection's TLS
    // session. False when that fails or the server shows another certificate than on the
    // control connection: `data` is shut and the reply that follows has been read.
    bool secureDataConnection(Socket &data, int code);
    // USER, PASS, then FEAT and OPTS UTF8; false when the login was refused.
    bool logIn();
    // The server closed the session while the engine waited (end of stream or a 421 already
    // waiting on the control connection): one new connection and login with the same
    // address and credentials, and TLS when the session had it. False when the session is
    // closed and could not be reopened.
    bool reopenIfClosedWhileIdle();
    bool closedWhileIdle() const;
    // Drops both connections without the meaning of close(): a failure, not the user.
    void dropConnections();
    // A command written right after EPSV, in the same write, whose reply is read later.
    struct SentAhead {
        QString word;
        QString param;
    };
    // pasv() with TYPE `type` and then `after` sent along with EPSV once EPSV has worked
    // here; their replies are read by setType() and settleAhead().
    void pasv(const QString &type, const QList<SentAhead> &after);
    // EPSV or PASV: the data port, announced for the control connection's peer; 0 when none.
    int passivePort(const QList<SentAhead> &along);
    // Reads the reply to the oldest command sent with EPSV, when there is one; its code, or
    // nothing. `lineMs` as for readReply(); `lastLine` receives the reply's last line.
    std::optional<int> settleAhead(int lineMs = 0, QString *lastLine = nullptr);
    // Reads the replies to every command still ahead; the last one's code, -1 when none.
    // A transfer the server took up (a preliminary reply) while this side has no data
    // connection for it cannot be kept in step: the connection is closed.
    int settleAllAhead(int lineMs = 0);
    // Reads the reply to the transfer or listing command that went along, once TYPE's has
    // been read; its code. When TYPE was refused and the command taken up all the same,
    // `data` is closed unread and the completion read, so the control connection stays in step.
    int settleCommandAhead(bool typeRefused, Socket &data);
    // Reads what is still ahead after pasv() made no data connection for the `verb` sent
    // along with EPSV: its reply code, -1 when it did not go along, was not answered in
    // time (the connection is then closed) or was taken up.
    int settleWithoutDataConnection(const QString &verb);
    // The data connection's target: the control connection's peer, whatever its family.
    QString serverAddress() const;
    // One listing's entries: a line that names nothing (a blank line, "total 3", ".")
    // makes none, but is counted among the lines.
    struct ListedEntries {
        QList<File> entries;
        qsizetype lines = 0;
        bool cut = false; // the limits stopped it: `entries` holds the first ones
    };
    // Turns one listing (LIST or MLSD) into entries, within `limits`.
    static ListedEntries listEntries(const QByteArray &listing, bool machine, const Limits &limits);

    std::shared_ptr<Socket> controlConnection() const;
    std::shared_ptr<Socket> dataConnection() const;

    // Reads one whole reply (following "nnn-" continuation lines); `lastLine` receives the
    // last line read. `logCode` false leaves out the per-line code log (the PASV exchange).
    // `lineMs` > 0 waits that long for each line instead of the usual limit.
    int readReply(bool logCode, QString *lastLine, QStringList *allLines = nullptr, int lineMs = 0);
    // Puts one command line on the wire (CR LF added, CR or LF inside refused); false when
    // nothing could be sent.
    bool sendCommand(const QString &word, const QString &param);
    // The bytes of one command line, CR LF added; none (and a log line) when the command
    // holds a CR or LF.
    static std::optional<QByteArray> commandLine(const QString &word, const QString &param);
    // Writes command lines already made; a failed write closes the engine. `word` and
    // `param` name the first command in the log.
    bool writeCommands(const QByteArray &bytes, const QString &word, const QString &param);
    // A command whose reply carries data: `lastLine` receives its last line.
    int query(const QString &word, const QString &param, QString *lastLine);
    // SIZE of a remote file, when offered and answered.
    std::optional<qint64> remoteSize(const QString &path);
    // SIZE and MDTM of a file downloaded, each when offered and answered, asked in one
    // write.
    struct RemoteFacts {
        std::optional<qint64> size;
        std::optional<qint64> modified; // seconds since the epoch, UTC
        // Takes what a reply to SIZE (`isSize`) or MDTM says.
        void take(bool isSize, int code, const QString &reply);
    };
    RemoteFacts remoteFacts(const QString &path);
    // The replies to the SIZE and MDTM that lead what went with EPSV; nothing when neither
    // went.
    std::optional<RemoteFacts> settleFactsAhead();
    // A time-out counts as a lost connection: one log line, then the engine closes itself.
    void closeAfterTimeout(const char *where);
    // A limit passed or a broken connection: `why` is logged, then the engine closes.
    void closeBecause(const QString &why);
    // PASV, TYPE A, `verb` (LIST or MLSD) with `argument` (none when empty), the data, then
    // the completion. `path` names the listed directory in the log. `refusal` receives the
    // reply code when the server refused the listing command.
    std::optional<ListedEntries> listing(const QString &verb, const QString &argument, const QString &path,
                                         int *refusal = nullptr);
    // Reads the listing's data to its end within the listing limits; absent on failure.
    std::optional<QByteArray> readListing(Socket &data, const QString &path);

    // --- transfers (worker side) ---
    // An open local file to upload, owned by the worker (closed with it).
    class UploadSource;
    // The data connection made by the last pasv(), or null when pasv() made none.
    std::shared_ptr<Socket> freshDataConnection(const std::shared_ptr<Socket> &before) const;
    // Drops the engine's DTP if it still is `data`, so the descriptor closes when the
    // worker lets go of it too.
    void releaseDataConnection(const std::shared_ptr<Socket> &data);
    // PASV, TYPE I, then `verb` with `remote`: the data connection once the server has
    // accepted the transfer; otherwise null, with the connection made for it closed and
    // `code` the transfer command's reply (-1 when it was not reached, sent or answered).
    // `restAt` > 0 sends REST first; a refused REST starts from 0 (`restAt` set to 0).
    // `facts`, when given, receives the file's SIZE and MDTM when they could be asked along
    // with the transfer command (and stays empty when they could not).
    std::shared_ptr<Socket> openTransfer(const QString &verb, const QString &remote, int &code,
                                         qint64 *restAt = nullptr, std::optional<RemoteFacts> *facts = nullptr);
    // What a partial file of `remote` is a part of, as the server shows the file now: SIZE
    // and MDTM (also given in `facts`), then a listing of the file for what they leave out.
    PartOrigin originOf(const QString &remote, RemoteFacts &facts);
    // The same from what SIZE and MDTM said alone.
    PartOrigin originFrom(const QString &remote, const RemoteFacts &facts) const;
    // Runs `body` after the calling worker's job, or on the engine's transfer thread, counted
    // by waitForTransfers() until it has let go of the engine; false when no thread could be
    // made.
    bool startWorker(std::function<void(FTP &, FileReceiver &)> body);
    struct Download;
    void downloadThread(Download download, qint32 id, std::shared_ptr<Socket> data, FileReceiver &receiver);
    void uploadThread(std::shared_ptr<UploadSource> source, qint32 id, std::shared_ptr<Socket> data);
    // ---

    // PI and DTP are swapped under stateMutex_; I/O happens on a local copy of the pointer,
    // so close() from another thread never frees a descriptor that a read still uses.
    const quint64 id_;
    const Settings settings_;

    std::shared_ptr<Socket> PI;
    std::shared_ptr<Socket> DTP;
    QString Login;
    QString Password;
    QString FileName;
    std::atomic<qint64> masize{0};
    qint32 _idfile = 0;

    QString address_; // the server text, for reopening the session
    ServerFeatures features_;
    bool epsvRefused_ = false;
    bool epsvWorked_ = false;
    // The commands sent with EPSV whose replies are still to be read, oldest first.
    QList<SentAhead> ahead_;
    bool mlsdFailed_ = false;
    int actionDepth_ = 0;
    qint64 resumeOffset_ = 0;
    qint64 uploadSize_ = -1;
    std::atomic<bool> stoppedByUser_{false};
    // Set once the session is ended (endSession()); guards the publication of a control
    // connection, and the canceller wakes the connects in progress.
    std::atomic<bool> givenUp_{false};
    const std::unique_ptr<ConnectCanceller> canceller_;
    bool idleCloseLogged_ = false; // the idle check said once that the server closed
    std::atomic<bool> loginRefused_{false};
    std::atomic<SecurityFailure> securityFailure_{SecurityFailure::None};
    std::atomic<Protection> protection_{Protection::Clear};
    // What open() must reach: given to the connect, then raised to the protection the
    // login had, for reopening. Used by the connecting thread only.
    ProtectionPolicy policy_;
    std::optional<CertificateRefusal> certificateRefusal_; // under stateMutex_
    QString tlsDescription_;                               // under stateMutex_; empty in clear
    // The control connection's TLS peer, which every data connection must show again.
    QString tlsHost_;
    QByteArray serverCertificate_; // SHA-256
    TlsSession resumable_;         // what the data connections resume

    // The thread the transfers' data moves on. Used by the thread that starts transfers;
    // ended by the engine's destructor, which may run on that very thread.
    class TransferThread;
    struct TransferThreadEnd {
        void operator()(TransferThread *thread) const;
    };
    std::unique_ptr<TransferThread, TransferThreadEnd> transferThread_;

    mutable std::mutex stateMutex_;
    std::atomic<bool> transferRunning_{false};
    std::atomic<bool> transferCancelled_{false};
};

} // namespace zodaru
