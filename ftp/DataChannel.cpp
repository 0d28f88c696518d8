// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/DataChannel.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/EngineConnections.h"
#include "net/Connect.h"
#include "net/Socket.h"

#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zodaru {

namespace {

bool isCompletion(int code)
{
    return code >= 200 && code < 300;
}

// The reply of a command that did not get the data going: refused by the server, or
// never sent or answered (-1).
bool refused(int code)
{
    return code < 0 || code >= 400;
}

// The PASV address as a dotted quad, or an empty string when it is not one.
QString normalisedAddress(const QString &announced)
{
    in_addr parsed{};
    const QByteArray bytes = announced.simplified().remove(QLatin1Char(' ')).toLatin1();
    if (::inet_pton(AF_INET, bytes.constData(), &parsed) != 1)
        return QString();
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &parsed, text, sizeof text) ? QString::fromLatin1(text) : QString();
}

} // namespace

DataChannel::DataChannel(ControlChannel &control, EngineConnections &connections, const EngineSettings &settings,
                         const ServerFeatures &features, const TlsContext &tls, const ConnectCanceller &canceller)
    : control_(control), connections_(connections), settings_(settings), features_(features), tls_(tls),
      canceller_(canceller)
{
}

void DataChannel::forgetTls()
{
    encrypted_ = false;
    resumable_ = TlsSession();
}

void DataChannel::useTls(const QString &host, const QByteArray &certificate)
{
    encrypted_ = true;
    tlsHost_ = host;
    serverCertificate_ = certificate;
}

void DataChannel::pasv(const QString &type, const QList<ControlChannel::SentAhead> &after)
{
    control_.settleAllAhead();
    if (!control_.isConnected())
        return;
    // A new PASV makes the previous data connection useless; a transfer worker that still
    // holds it keeps it until it lets go.
    connections_.forgetData();
    QList<ControlChannel::SentAhead> along;
    if (!type.isEmpty()) {
        along.append({QStringLiteral("TYPE"), type});
        along.append(after);
    }
    const int port = passivePort(along);
    if (port <= 0)
        return;
    // The data connection goes to the host we are already talking to: a passive reply must
    // not be able to send the client to a third host (FTP bounce).
    const QString server = control_.serverAddress();
    if (server.isEmpty()) {
        zlog("Exception recue dans pasv ==> %@", systemErrorReason("getpeername"));
        return;
    }
    int fd = -1;
    try {
        fd = connectTcp(server, port, settings_.timeouts.dataConnect, &canceller_);
    } catch (const NetworkException &e) {
        zlog("Exception recue dans pasv ==> %@", e.reason());
        return;
    }
    zlog("Adresse : %@ socket : %i port : %i\n", server, fd, port);
    connections_.publishData(std::make_shared<Socket>(fd));
}

int DataChannel::setType(const QString &type)
{
    if (control_.firstAhead() == QLatin1String("TYPE"))
        return *control_.settleAhead();
    return control_.exchange(QStringLiteral("TYPE"), type);
}

DataChannel::Opened DataChannel::openDataCommand(const Request &request)
{
    Opened opened;
    opened.restAt = request.restAt;
    const auto before = connections_.data();
    // Once EPSV has worked, the command goes with EPSV and TYPE: one round trip less per
    // directory opened or file downloaded. A listing or a RETR changes nothing on the
    // server, so it does no harm even when what went before it is refused; a REST must be
    // answered before the command, and a STOR replaces the remote file as soon as it is
    // taken up. The SIZE and MDTM that check a download once it has arrived go along too,
    // before RETR, so that their replies come before the transfer's and cost no round trip.
    QList<ControlChannel::SentAhead> after;
    if (request.verb != QLatin1String("STOR") && request.restAt <= 0) {
        if (request.askFacts && features_.size)
            after.append({QStringLiteral("SIZE"), request.argument});
        if (request.askFacts && features_.mdtm)
            after.append({QStringLiteral("MDTM"), request.argument});
        after.append({request.verb, request.argument});
    }
    pasv(request.type, after);
    // pasv() leaves the data connection as it was when it fails: an earlier one must never
    // be taken for this command's.
    auto data = connections_.data();
    if (data == before)
        data = nullptr;
    if (!data || !control_.isConnected()) {
        const int answer = control_.settleWithoutDataConnection(request.verb);
        if (refused(answer))
            opened.code = answer;
        opened.stoppedAt = Stop::Passive;
        return opened;
    }

    const int type = setType(request.type);
    const bool typeRefused = refused(type);
    if (control_.hasAhead()) {
        auto answered = control_.settleFactsAhead();
        if (request.askFacts)
            opened.facts = std::move(answered);
        opened.code = control_.settleCommandAhead(typeRefused, *data);
        if (typeRefused && !refused(opened.code))
            opened.code = type;
    } else if (!typeRefused) {
        if (request.restAt > 0
            && control_.exchange(QStringLiteral("REST"), QString::number(request.restAt)) != 350) {
            zlog("REST refuse : %@ repart du debut", request.argument);
            opened.restAt = 0;
        }
        if (control_.isConnected())
            opened.code = control_.exchange(request.verb, request.argument);
    }
    opened.stoppedAt = typeRefused ? Stop::Type : Stop::None;
    if (!typeRefused && refused(opened.code))
        opened.stoppedAt = Stop::Command;
    else if (!typeRefused && !secureDataConnection(*data, opened.code))
        opened.stoppedAt = Stop::Tls;
    if (opened.stoppedAt == Stop::None) {
        opened.data = std::move(data);
        return opened;
    }
    if (opened.stoppedAt == Stop::Tls)
        opened.code = -1;
    // Nothing will move on this connection: it is closed now, not left for a worker to
    // wait on, and the engine is free for the next command.
    release(data, End::Shut);
    return opened;
}

bool DataChannel::release(const std::shared_ptr<Socket> &data, End end)
{
    bool confirmed = true;
    const int idleMs = settings_.timeouts.dataIdle;
    switch (end) {
    case End::Reset: {
        // Dissolving the association resets the connection and keeps the descriptor valid
        // for its owner.
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        ::connect(data->fileDescriptor(), &unspecified, sizeof unspecified);
        break;
    }
    case End::Shut:
        data->shutdownBoth();
        break;
    case End::Close:
        if (data->isEncrypted())
            data->closeNotify(idleMs);
        data->shutdownBoth();
        break;
    case End::CloseAwaited:
        // Over TLS only a close_notify tells a complete upload from a cut one.
        confirmed = !data->isEncrypted() || (data->closeNotify(idleMs) && data->awaitPeerClose(idleMs));
        data->shutdownBoth();
        break;
    }
    connections_.forgetData(data);
    return confirmed;
}

int DataChannel::passivePort(const QList<ControlChannel::SentAhead> &along)
{
    const auto control = connections_.control();
    if (!control)
        return 0;
    // EPSV names no address, so it works whatever the family; PASV cannot name an IPv6 one.
    if (!epsvRefused_ && (features_.epsv || isIpv6Peer(control->fileDescriptor()))) {
        QString reply;
        int code = -1;
        // The server reads the lines in turn, as if they had come one by one; only the
        // waits between them go. Not before EPSV has worked here: a refusal would put the
        // commands ahead of the PASV that follows it.
        QByteArray lines = "EPSV\r\n";
        // The first `going` commands of `along`: up to one that cannot be sent.
        qsizetype going = 0;
        for (; epsvWorked_ && going < along.size(); ++going) {
            const auto line = ControlChannel::commandLine(along[going].word, along[going].param);
            if (!line)
                break;
            lines += *line;
        }
        if (going > 0) {
            zlog("=> >%@<", ControlChannel::shownLine(QStringLiteral("EPSV"), QString()));
            if (!control_.writeCommands(lines, QStringLiteral("EPSV"), QString()))
                return 0;
            control_.expectAhead(along.first(going));
            code = control_.readReply(true, &reply);
        } else {
            code = control_.query(QStringLiteral("EPSV"), QString(), &reply);
        }
        if (isCompletion(code)) {
            epsvWorked_ = true;
            const auto port = parseEpsvReply(reply);
            if (!port)
                zlog("Exception recue dans pasv ==> %@", QStringLiteral("no port in: ") + reply);
            return port.value_or(0);
        }
        if (!control_.isConnected() || code < 500)
            return 0;
        epsvRefused_ = true;
        zlog("EPSV refuse : on passe a PASV pour cette session");
        // What went along is answered before PASV is; the caller sends its own again.
        control_.settleAllAhead();
        if (!control_.isConnected())
            return 0;
    }
    zlog("=> PASV\n");
    static constexpr char kPasv[] = "PASV\r\n";
    if (!control->writeAll(kPasv, qint64(sizeof kPasv - 1), settings_.timeouts.replyLine)) {
        zlog("Exception recue dans pasv ==> %@", systemErrorReason("write"));
        connections_.dropAll();
        return 0;
    }
    QString reply;
    const int code = control_.readReply(false, &reply);
    if (!control_.isConnected() || !isCompletion(code))
        return 0;
    const auto announced = parsePasvReply(reply);
    if (!announced) {
        zlog("Exception recue dans pasv ==> %@", QStringLiteral("no address between parentheses in: ") + reply);
        return 0;
    }
    // The announced text comes from the server: shown escaped, it cannot drive the terminal.
    std::printf("IP : %s\n", escapedForLog(announced->host).toUtf8().constData());
    std::printf("Port : %i \n", announced->port);
    std::fflush(stdout);
    const QString server = control_.serverAddress();
    if (!server.isEmpty() && normalisedAddress(announced->host) != server)
        zlog("Adresse PASV %@ differente de celle du serveur, on utilise %@", announced->host, server);
    return announced->port;
}

bool DataChannel::secureDataConnection(Socket &data, int code)
{
    if (!encrypted_)
        return true;
    // Taken at the first data connection: under TLS 1.3 the session arrives after the
    // handshake, and every reply read since has brought it in. The control connection
    // marks it used once offered, so it is kept aside and offered as copies.
    if (const auto control = connections_.control(); control && resumable_.isNull())
        resumable_ = control->session().copy();
    const TlsSession session = resumable_.copy();
    QString error;
    bool secured = data.startTlsClient(tls_, tlsHost_, session, settings_.timeouts.dataConnect, &error);
    if (!secured) {
        zlog("Connexion de donnees : negociation TLS impossible ==> %@", error);
    } else if (data.peer().certificate.sha256 != serverCertificate_) {
        // The user decided about the control connection's certificate only.
        zlog("Connexion de donnees : certificat different de celui de la connexion de controle");
        secured = false;
    }
    if (secured)
        return true;
    data.shutdownBoth();
    // The server answers the broken transfer; read now, the reply stays out of the next
    // command's way.
    if (code < 200)
        control_.ret();
    return false;
}

} // namespace zodaru
