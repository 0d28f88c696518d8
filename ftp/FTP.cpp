// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/FTP.h"

#include "base/Log.h"
#include "ftp/TransferWorkers.h"
#include "net/Connect.h"
#include "net/Socket.h"
#include "net/TlsContext.h"

#include <utility>

namespace zodaru {

namespace {

std::atomic<quint64> &lastEngineId()
{
    static std::atomic<quint64> id{0};
    return id;
}

std::mutex &certificateCheckMutex()
{
    static std::mutex m;
    return m;
}

FTP::CertificateCheck &currentCertificateCheck()
{
    static FTP::CertificateCheck check;
    return check;
}

} // namespace

FTP::FTP(const Settings &settings)
    : id_(++lastEngineId()), settings_(settings), control_(connections_, settings_),
      data_(control_, connections_, settings_, features_, tlsContext(), canceller_),
      listing_(control_, data_, settings_, features_),
      transferContext_{id_, settings_, control_, data_, listing_, features_, transfer_},
      session_({settings_, connections_, control_, data_, features_, tlsContext(), canceller_, givenUp_,
                transfer_.running, [] {
                    std::lock_guard lock(certificateCheckMutex());
                    return currentCertificateCheck();
                }})
{
}
FTP::~FTP() = default;

std::shared_ptr<FTP> FTP::create(const Settings &settings)
{
    return std::shared_ptr<FTP>(new FTP(settings));
}

std::shared_ptr<FTP> FTP::connectTo(const QString &address, const Settings &settings)
{
    auto engine = create(settings);
    engine->session_.open(address, {});
    return engine;
}
std::shared_ptr<FTP> FTP::connectTo(const QString &address, const QString &login, const QString &password,
                                    ProtectionPolicy policy, const Settings &settings)
{
    auto engine = create(settings);
    connectInto(engine, address, login, password, policy);
    return engine;
}

void FTP::connectInto(const std::shared_ptr<FTP> &engine, const QString &address, const QString &login,
                      const QString &password, ProtectionPolicy policy)
{
    engine->session_.connect(address, login, password, policy);
}

void FTP::setCertificateCheck(CertificateCheck check)
{
    std::lock_guard lock(certificateCheckMutex());
    currentCertificateCheck() = std::move(check);
}

TlsContext &FTP::tlsContext()
{
    static TlsContext context;
    return context;
}

std::optional<FTP::CertificateRefusal> FTP::certificateRefusal() const
{
    return session_.certificateRefusal();
}

bool FTP::isEncrypted() const
{
    return session_.isEncrypted();
}

QString FTP::tlsDescription() const
{
    return session_.tlsDescription();
}

void FTP::giveUp()
{
    close();
}

void FTP::endSession()
{
    givenUp_ = true;
    canceller_.cancel();
}

bool FTP::isConnected()
{
    return control_.isConnected();
}

void FTP::close()
{
    // From outside the engine a close is a stop: the running download leaves no partial.
    transfer_.stoppedByUser = true;
    endSession();
    connections_.dropAll();
}

void FTP::shutdown()
{
    endSession();
    // A running transfer's worker is reading its completion reply on PI: a QUIT exchange
    // now would race it for the reply lines. Closing wakes the worker, which reports the
    // transfer as broken. A session the server closed has nobody left to say QUIT to.
    if (transfer_.running || !connections_.control() || session_.closedWhileIdle()) {
        close();
        return;
    }
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    command(QStringLiteral("QUIT"));
    close();
}

bool FTP::checkControlConnection()
{
    const ServerSession::Idle idle = session_.checkIdle();
    if (idle == ServerSession::Idle::Lost)
        close();
    return idle == ServerSession::Idle::Alive;
}

bool FTP::reopensWhenUsed() const
{
    return session_.reopensWhenUsed();
}

void FTP::keepAlive()
{
    session_.keepAlive();
}

int FTP::cd(const QString &path)
{
    Action action(*this);
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    return command(QStringLiteral("CWD"), path);
}

int FTP::ret()
{
    return control_.ret();
}

int FTP::command(const QString &line)
{
    return command(line, QString());
}

int FTP::command(const QString &word, const QString &param)
{
    Action action(*this);
    return control_.exchange(word, param);
}

void FTP::pasv(const QString &type)
{
    data_.pasv(type);
}

int FTP::setType(const QString &type)
{
    // The reply to the TYPE that went with EPSV, else an exchange of its own.
    if (control_.firstAhead() == QLatin1String("TYPE"))
        return data_.setType(type);
    return command(QStringLiteral("TYPE"), type);
}

std::optional<QList<File>> FTP::list(const QString &path)
{
    Action action(*this);
    return listing_.list(path);
}

qint64 FTP::size(const QString &path)
{
    Action action(*this);
    return listing_.size(path);
}

int FTP::createSocket(const QString &address, int port, int connectTimeoutMs, const ConnectCanceller *canceller)
{
    return connectTcp(address, port, connectTimeoutMs, canceller);
}

} // namespace zodaru
