// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QObject>

#include <memory>
#include <vector>

namespace zodaru {

class FTP;
struct SessionEngine;

// Keeps what a session no longer uses until nothing can refer to it any more, and counts
// the transfers of every engine, current or not.
//
// Transfer notifications name their engine by address. An engine is therefore kept until
// every transfer started on it has reported its end here: its address cannot be handed to
// a new engine while one of its notifications is still on its way. A retired worker is kept
// until the jobs it was running have come back. Nothing is polled: both events are told.
class RetiredEngines final : public QObject {
    Q_OBJECT
public:
    explicit RetiredEngines(QObject *parent = nullptr);
    ~RetiredEngines() override;
    Q_DISABLE_COPY_MOVE(RetiredEngines)

    // Once the engine's worker has run what it was given and its transfers have ended, the
    // engine is closed and let go. `transfers`: a transfer engine, whose worker may still be
    // starting one.
    void retire(std::unique_ptr<SessionEngine> engine, bool transfers = false);
    // An engine replaced inside a session (logged in again): closed once its transfers end.
    void retire(std::shared_ptr<FTP> engine);

    // A transfer started on `engine`, or one ended (counted by the engine's address).
    void transferStarted(quint64 engine);
    void transferEnded(quint64 engine);

    // Closes every engine kept, so that the workers' jobs return at once.
    void closeAll();
    // Engines and workers still kept.
    int count() const { return int(kept_.size()); }
    // True while a retired engine's transfer may still run or be starting: its partial
    // file is not to be touched by a new transfer of the same entry before it has ended.
    bool transfersEnding() const;

Q_SIGNALS:
    // transfersEnding() became false.
    void transfersEnded();

private:
    struct Kept;
    void release();

    std::vector<std::unique_ptr<Kept>> kept_;
    bool wereEnding_ = false;
    QHash<quint64, int> running_; // by FTP::id()
};

} // namespace zodaru
