// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/EnginePool.h"

#include "app/RetiredEngines.h"
#include "base/Log.h"
#include "ftp/FTP.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace zodaru {

struct EnginePool::Member {
    std::unique_ptr<SessionEngine> engine;
    quint64 serial = 0;
    qint32 entry = 0;       // the entry it runs; 0 when free
    bool loggingIn = false; // its engine is engine->replacement until the login is in
    Ready ready;            // for the entry it is being made for
    QTimer idle;
};

EnginePool::EnginePool(TransferDirection direction, Dialer dialer, RetiredEngines &retired, QObject *parent)
    : QObject(parent), direction_(direction), dialer_(std::move(dialer)), retired_(retired)
{
}

EnginePool::~EnginePool()
{
    for (auto &engine : takeAll())
        retired_.retire(std::move(engine), true);
}

void EnginePool::open(std::unique_ptr<SessionEngine> first)
{
    for (auto &engine : takeAll())
        retired_.retire(std::move(engine), true);
    limit_ = 0;
    auto member = std::make_unique<Member>();
    member->engine = std::move(first);
    member->serial = ++serial_;
    members_.push_back(std::move(member));
}

SessionEngine *EnginePool::first() const
{
    return members_.empty() ? nullptr : members_.front()->engine.get();
}

int EnginePool::capacity() const
{
    const int wanted = std::clamp(connections_, 1, 10);
    return limit_ > 0 ? std::min(wanted, limit_) : wanted;
}

void EnginePool::setConnections(int connections)
{
    connections_ = connections;
    trim();
}

SessionEngine *EnginePool::take(qint32 entry)
{
    for (const auto &member : members_) {
        if (member->entry == 0 && !member->loggingIn && member->engine->ftp) {
            member->entry = entry;
            member->idle.stop();
            return member->engine.get();
        }
    }
    return nullptr;
}

bool EnginePool::make(qint32 entry, Ready ready)
{
    if (!first() || size() >= capacity())
        return false;
    auto member = std::make_unique<Member>();
    member->engine = std::make_unique<SessionEngine>();
    member->serial = ++serial_;
    member->entry = entry;
    member->loggingIn = true;
    member->ready = std::move(ready);
    member->idle.setSingleShot(true);
    connect(&member->idle, &QTimer::timeout, this, [this, serial = member->serial] {
        const auto found = std::find_if(members_.begin(), members_.end(),
                                        [serial](const auto &held) { return held->serial == serial; });
        if (found != members_.end() && (*found)->entry == 0 && !(*found)->loggingIn) {
            zlog("Connexion de transfert inutilisee fermee");
            close(found->get());
        }
    });
    // Made here, so that ending the session gives its connect up at once.
    const std::shared_ptr<FTP> made = dialer_.create();
    member->engine->replacement = made;
    member->engine->worker.run(dialer_.logIn(made), this,
                               [this, serial = member->serial](LoginEnd end) { loginDone(serial, end); },
                               LoginEnd::Failed);
    members_.push_back(std::move(member));
    return true;
}

void EnginePool::loginDone(quint64 serial, LoginEnd end)
{
    const auto found = std::find_if(members_.begin(), members_.end(),
                                    [serial](const auto &held) { return held->serial == serial; });
    if (found == members_.end())
        return; // the session ended meanwhile: its engine went with it
    Member &member = **found;
    const Ready ready = std::exchange(member.ready, nullptr);
    if (end == LoginEnd::LoggedIn) {
        member.loggingIn = false;
        member.engine->ftp = std::exchange(member.engine->replacement, nullptr);
        if (ready)
            ready(member.engine.get());
        return;
    }
    std::unique_ptr<SessionEngine> engine = std::move(member.engine);
    members_.erase(found);
    if (engine->replacement)
        engine->replacement->close();
    engine->worker.dropPending();
    retired_.retire(std::move(engine));
    // The members there are now are what this server takes, for the rest of the session.
    const int kept = std::max(1, size());
    limit_ = limit_ > 0 ? std::min(limit_, kept) : kept;
    if (end == LoginEnd::Limit)
        Q_EMIT limited(capacity());
    if (ready)
        ready(nullptr);
}

EnginePool::Member *EnginePool::memberOf(const SessionEngine &engine) const
{
    for (const auto &member : members_)
        if (member->engine.get() == &engine)
            return member.get();
    return nullptr;
}

void EnginePool::release(SessionEngine &engine, qint32 entry)
{
    Member *member = memberOf(engine);
    if (!member || member->entry != entry || member->loggingIn)
        return;
    member->entry = 0;
    if (member == members_.front().get())
        return;
    if (size() > capacity())
        close(member);
    else
        startIdle(*member);
}

void EnginePool::startIdle(Member &member)
{
    member.idle.start(idleMs_);
}

void EnginePool::close(Member *member)
{
    const auto found = std::find_if(members_.begin(), members_.end(),
                                    [member](const auto &held) { return held.get() == member; });
    if (found == members_.end() || found == members_.begin())
        return;
    std::unique_ptr<SessionEngine> engine = std::move((*found)->engine);
    members_.erase(found);
    engine->worker.dropPending();
    // QUIT after what its worker still runs.
    if (engine->ftp) {
        engine->ftp->endSession();
        engine->worker.post([ftp = engine->ftp] { ftp->shutdown(); });
    }
    retired_.retire(std::move(engine));
}

void EnginePool::trim()
{
    for (std::size_t i = members_.size(); i-- > 1 && size() > capacity();) {
        Member *member = members_[i].get();
        if (member->entry == 0 && !member->loggingIn)
            close(member);
    }
}

SessionEngine *EnginePool::runner(quint64 engine, qint32 entry) const
{
    for (const auto &member : members_) {
        if (member->entry != entry || member->loggingIn)
            continue;
        const SessionEngine &held = *member->engine;
        // A start that logged in again moves the data with its replacement before its
        // result names it here.
        if ((held.ftp && held.ftp->id() == engine) || (held.replacement && held.replacement->id() == engine))
            return member->engine.get();
    }
    return nullptr;
}

SessionEngine *EnginePool::running(qint32 entry) const
{
    for (const auto &member : members_)
        if (member->entry == entry && !member->loggingIn)
            return member->engine.get();
    return nullptr;
}

SessionEngine *EnginePool::find(quint64 engine) const
{
    for (const auto &member : members_)
        if (engine != 0 && member->engine->id() == engine)
            return member->engine.get();
    return nullptr;
}

std::vector<SessionEngine *> EnginePool::members() const
{
    std::vector<SessionEngine *> all;
    all.reserve(members_.size());
    for (const auto &member : members_)
        all.push_back(member->engine.get());
    return all;
}

std::vector<std::unique_ptr<SessionEngine>> EnginePool::takeAll()
{
    std::vector<std::unique_ptr<SessionEngine>> all;
    for (auto &member : members_)
        all.push_back(std::move(member->engine));
    members_.clear();
    return all;
}

} // namespace zodaru
