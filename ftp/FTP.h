// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/ControlChannel.h"
#include "ftp/DataChannel.h"
#include "ftp/EngineConnections.h"
#include "ftp/EngineSettings.h"
#include "ftp/DirectoryListing.h"
#include "ftp/PartFile.h"
#include "ftp/RemoteFacts.h"
#include "ftp/ProtocolReplies.h"
#include "ftp/ServerSession.h"
#include "ftp/TransferContext.h"
#include "ftp/TransferEvent.h"
#include "model/CertificateStore.h"
#include "model/File.h"
#include "net/Connect.h"
#include "net/TlsCertificate.h"
#include "net/TlsContext.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace zodaru {

class FileReceiver;
class TransferThread;

// One logged-in FTP connection: a control connection (PI) and at most one passive data
// connection at a time (DTP). Synchronous: each operation blocks until its reply is read.
//
// Engines live in std::shared_ptr: a transfer worker holds a reference to its engine until
// it has posted its completion, so dropping or replacing an engine mid-transfer is safe.
// An engine moves the data of its transfers on one thread of its own, made at its first
// transfer and ended with the engine.
// While a worker runs, only close() and shutdown() may be called from another thread.
//
// FTP holds no protocol logic of its own: each call forwards to the part whose job it is
// (ServerSession, ControlChannel, DataChannel, DirectoryListing, FileDownload, FileUpload).
class FTP final : public std::enable_shared_from_this<FTP> {
public:
    // Time limits, size limits, and where transfers are told: see EngineSettings.h.
    using Timeouts = EngineTimeouts;
    using Limits = EngineLimits;
    // What an engine is given when it is made and keeps for its life.
    using Settings = EngineSettings;
    // The settings of an engine made without any: the defaults of EngineSettings.h.
    static Settings defaultSettings() { return Settings{}; }

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
    // (see ServerSession::reopenIfClosedWhileIdle()), with at least the protection it had.
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
    using SecurityFailure = zodaru::SecurityFailure;
    SecurityFailure securityFailure() const { return session_.securityFailure(); }
    // How the last login was protected (Clear before any). A reopened session never has
    // less than the login before it. Any thread.
    Protection protection() const { return session_.protection(); }
    // Closes the engine for good, from any thread, even while it is still connecting: the
    // same as close().
    void giveUp();
    // The user ended the session (disconnect, quit), from any thread: from now on the engine
    // makes no connection, so a session the server closed is never reopened, and a connect
    // in progress (login, reopening, data connection) is abandoned at once. What runs goes
    // on; shutdown() or close() follows.
    void endSession();
    // True when the server refused the last login (not a lost or silent peer).
    bool loginRefused() const { return session_.loginRefused(); }
    // The reply that ended the last login (see ServerSession::loginReply()).
    int loginReply() const { return session_.loginReply(); }

    // --- TLS ---
    // Decides about the certificate a server presented: `server` is
    // CertificateStore::key(host, port). Called on the connecting thread; the function must
    // be thread-safe. Without one, only a certificate that verifies is accepted.
    using CertificateCheck = zodaru::CertificateCheck;
    static void setCertificateCheck(CertificateCheck check);
    // The process-wide TLS settings (tests add their server's certificate to the trust).
    static TlsContext &tlsContext();
    // A certificate that was neither verified nor trusted stopped the last connect: the
    // engine is not connected and this says what the user has to decide about.
    using CertificateRefusal = zodaru::CertificateRefusal;
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
    // `from` > 0 continues a remote file that holds the first `from` bytes of `local`:
    // REST `from`, then STOR with the rest of the file (from 0 when REST is refused).
    int put(const QString &local, const QString &remote, int id, qint64 from = 0);

    // What the server tells of the file `remote`, for a transfer about to replace it: its
    // size and date (SIZE and MDTM; a listing of the file gives what they leave out).
    // Nothing when the server has no such file (SIZE refused, or the listing does not show
    // it as a file), or the question could not be asked (then isConnected() is false).
    std::optional<RemoteFacts> fileFacts(const QString &remote);
    // What a partial file of `remote` records being a part of when the server shows it as
    // `facts`: the origin a download of it records, so that it continues such a file.
    PartOrigin partOrigin(const QString &remote, const RemoteFacts &facts) const;

    // Where the last get() continued a partial file from (REST), 0 when it started over;
    // for the last put(), where it continued the remote file from.
    // A partial file is continued only for the same server, user and remote path, the
    // file's size and date as they were when it began, and only when it is shorter.
    // The progress notifications count only the bytes moved by this transfer.
    qint64 resumeOffset() const { return resumeOffset_; }
    // The size of the file the last put() started to send, as opened; -1 when none opened.
    qint64 uploadSize() const { return uploadSize_; }

    // True from a transfer's start until its worker has posted its completion.
    bool isTransferring() const { return transfer_.running.load(); }
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

    // Counts nested public operations, so that only the outermost one checks for a session
    // the server closed while idle (and reopens it).
    class Action final {
    public:
        explicit Action(FTP &ftp) : ftp_(ftp)
        {
            if (ftp_.actionDepth_++ == 0)
                ftp_.session_.reopenIfClosedWhileIdle();
        }
        ~Action() { --ftp_.actionDepth_; }
        Q_DISABLE_COPY_MOVE(Action)

    private:
        FTP &ftp_;
    };

    // Runs `body` after the calling worker's job, or on the engine's transfer thread, counted
    // by waitForTransfers() until it has let go of the engine; false when no thread could be
    // made.
    bool startWorker(std::function<void(FileReceiver &)> body);

    const quint64 id_;
    const Settings settings_;

    // The parts, each with one job; they keep references to those declared before them.
    EngineConnections connections_; // PI and DTP
    ControlChannel control_;
    ServerFeatures features_; // what the server announced in its FEAT reply
    // Set once the session is ended (endSession()); guards the publication of a control
    // connection, and the canceller wakes the connects in progress.
    std::atomic<bool> givenUp_{false};
    ConnectCanceller canceller_;
    DataChannel data_;
    DirectoryListing listing_;
    TransferState transfer_;
    TransferContext transferContext_;
    ServerSession session_;

    QString FileName;
    qint32 _idfile = 0;
    int actionDepth_ = 0;
    qint64 resumeOffset_ = 0;
    qint64 uploadSize_ = -1;

    // The thread the transfers' data moves on. Used by the thread that starts transfers;
    // ended by the engine's destructor, which may run on that very thread.
    std::unique_ptr<TransferThread> transferThread_;
};

} // namespace zodaru
