// SPDX-License-Identifier: GPL-3.0-or-later
// The session's pools of transfer engines: how their extra members log in, and what the
// session says when the server takes no more.
#include "app/Session.h"

#include "app/EnginePool.h"
#include "app/RetiredEngines.h"
#include "base/Log.h"
#include "ui/MainWindowController.h"

#include <utility>

namespace zodaru {

namespace {

// A refused extra login that answered 421 (at the greeting or to USER or PASS) or 530 to
// the credentials the session logged in with is the server's limit on connections.
bool tooManyConnections(int reply)
{
    return reply == 421 || reply == 530;
}

} // namespace

using LoginFailure = Session::Login::Failure;

FTP::Settings Session::transferEngineSettings(TransferDirection direction) const
{
    FTP::Settings settings = engineSettings_;
    settings.rateLimit = direction == TransferDirection::Download ? downloadLimit_ : uploadLimit_;
    return settings;
}

std::unique_ptr<EnginePool> Session::makePool(TransferDirection direction)
{
    EnginePool::Dialer dialer;
    dialer.create = [this, direction] { return FTP::create(transferEngineSettings(direction)); };
    // Like a transfer engine that logs in again: never weaker than the session's first
    // engine, and a certificate the session trusted is trusted (the process-wide check).
    dialer.logIn = [this](std::shared_ptr<FTP> engine) -> std::function<EnginePool::LoginEnd()> {
        return [engine = std::move(engine), login = credentials()] {
            const Login result = logIn(engine, login.server, login.login, login.password, login.policy);
            if (result.failure == LoginFailure::None)
                return EnginePool::LoginEnd::LoggedIn;
            zlog("Connexion de transfert supplementaire impossible ==> %@", result.reason);
            const bool refused = result.failure == LoginFailure::Refused || result.failure == LoginFailure::NotFtp;
            return refused && tooManyConnections(result.reply) ? EnginePool::LoginEnd::Limit
                                                               : EnginePool::LoginEnd::Failed;
        };
    };
    auto pool = std::make_unique<EnginePool>(direction, std::move(dialer), retired_);
    connect(pool.get(), &EnginePool::limited, this, &Session::poolLimited);
    // The status bar tells the weakest protection of the session's engines.
    connect(pool.get(), &EnginePool::joined, this, &Session::showSecurity);
    return pool;
}

void Session::poolLimited(int kept)
{
    if (limitTold_)
        return;
    limitTold_ = true;
    // The command engine and the members of both directions.
    const int connections = (command_ ? 1 : 0) + in_->size() + out_->size();
    zlog("Le serveur refuse plus de %i connexions : les transferts continuent avec %i", connections, kept);
    window()->tellUser(tr("The server accepts no more than %1 connections: transfers go on with %2 at a time.")
                           .arg(connections)
                           .arg(kept));
}

std::vector<std::unique_ptr<SessionEngine>> Session::takeTransferEngines()
{
    std::vector<std::unique_ptr<SessionEngine>> all = in_->takeAll();
    for (auto &engine : out_->takeAll())
        all.push_back(std::move(engine));
    return all;
}

EnginePool &Session::pool(TransferDirection direction) const
{
    return direction == TransferDirection::Download ? *in_ : *out_;
}

void Session::setIdleInterval(int ms)
{
    in_->setIdleInterval(ms);
    out_->setIdleInterval(ms);
}

} // namespace zodaru
