// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/ControlChannel.h"
#include "ftp/EngineSettings.h"
#include "ftp/ProtocolReplies.h"
#include "ftp/RemoteFacts.h"
#include "net/TlsContext.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace zodaru {

class ConnectCanceller;
class EngineConnections;
class Socket;
class TlsContext;

// Opens the data commands of an engine, one step for listings and transfers alike: EPSV
// or PASV and the data connection, TYPE, REST, the command itself, then TLS on the data
// connection; and releases the data connection once it has served. Once EPSV has worked,
// TYPE and the command (and SIZE and MDTM for a download) go in the same write as EPSV.
// Used by the engine's current thread only.
class DataChannel final {
public:
    DataChannel(ControlChannel &control, EngineConnections &connections, const EngineSettings &settings,
                const ServerFeatures &features, const TlsContext &tls, const ConnectCanceller &canceller);
    Q_DISABLE_COPY_MOVE(DataChannel)

    // --- TLS of the data connections ---
    // A new control connection: nothing encrypted, nothing to resume.
    void forgetTls();
    // The control connection is encrypted with `host`'s certificate (SHA-256), which every
    // data connection must show again.
    void useTls(const QString &host, const QByteArray &certificate);

    // Drops the previous data connection and makes a new one, or none when the exchange
    // fails. Asks with EPSV when the server offers it or the session runs over IPv6, and
    // with PASV once EPSV was refused. With `type`, TYPE and then `after` go in the same
    // write as EPSV once EPSV has worked here; their replies wait for setType() and the
    // settle calls of the control channel.
    void pasv(const QString &type, const QList<ControlChannel::SentAhead> &after = {});
    // TYPE `type`: the reply to the one pasv() sent along, or a TYPE exchange now.
    int setType(const QString &type);
    // True once EPSV has worked on this engine: commands may go along with it.
    bool epsvWorked() const { return epsvWorked_; }

    struct Request {
        QString verb;     // LIST, MLSD, RETR or STOR
        QString argument; // none when empty
        QString type;     // "A" or "I"
        qint64 restAt = 0; // > 0: REST first; the command then goes on its own
        bool askFacts = false; // SIZE and MDTM go along with a RETR that starts at 0
    };
    // Where an opening stopped.
    enum class Stop { None, Passive, Type, Command, Tls };
    struct Opened {
        // The data connection once the server has taken the command up; null otherwise,
        // with the connection made for it closed.
        std::shared_ptr<Socket> data;
        // The command's reply; -1 when it was not reached, sent or answered. Without a
        // data connection (Stop::Passive), the reply of a command sent along and refused.
        int code = -1;
        Stop stoppedAt = Stop::None;
        // Where the transfer starts: the request's, or 0 when REST was refused.
        qint64 restAt = 0;
        // SIZE and MDTM when they went along (asked and offered).
        std::optional<RemoteFacts> facts;
    };
    Opened openDataCommand(const Request &request);

    // How a data connection ends.
    enum class End {
        Shut,         // shut down at once
        Close,        // close_notify first under TLS, without waiting for an answer
        CloseAwaited, // close_notify and the peer's close awaited under TLS (uploads)
        Reset,        // reset, so the server does not take what it has for a whole file
    };
    // Ends `data` and forgets it as the engine's data connection. False when a TLS end
    // asked to be confirmed was not.
    bool release(const std::shared_ptr<Socket> &data, End end);

private:
    // EPSV or PASV: the data port, announced for the control connection's peer; 0 when none.
    int passivePort(const QList<ControlChannel::SentAhead> &along);
    // Once the server accepted a listing or transfer with reply `code`, encrypts its data
    // connection when the session is encrypted, resuming the control connection's TLS
    // session. False when that fails or the server shows another certificate than on the
    // control connection: `data` is shut and the reply that follows has been read.
    bool secureDataConnection(Socket &data, int code);

    ControlChannel &control_;
    EngineConnections &connections_;
    const EngineSettings &settings_;
    const ServerFeatures &features_;
    const TlsContext &tls_;
    const ConnectCanceller &canceller_;
    bool epsvRefused_ = false;
    bool epsvWorked_ = false;
    bool encrypted_ = false;
    // The control connection's TLS peer, which every data connection must show again.
    QString tlsHost_;
    QByteArray serverCertificate_; // SHA-256
    TlsSession resumable_;         // what the data connections resume
};

} // namespace zodaru
