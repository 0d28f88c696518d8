// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <memory>
#include <vector>

namespace zodaru {

struct SessionEngine;

// Keeps the engines a session no longer uses until their workers have run what they were
// given. Main thread only.
//
// Results and transfer events name their engine by its id, which is never reused: nothing
// needs an engine kept for its name. A worker is kept because its destructor would wait for
// the job it runs; a transfer engine's worker also runs the data of the transfer it started,
// so until it is done that transfer may still be writing its partial file (transfersEnding()).
// Nothing is polled: the worker tells when it is done.
class RetiredEngines final : public QObject {
    Q_OBJECT
public:
    explicit RetiredEngines(QObject *parent = nullptr);
    ~RetiredEngines() override;
    Q_DISABLE_COPY_MOVE(RetiredEngines)

    // Once the engine's worker has run what it was given, the engine is closed and let go.
    // `transfers`: a transfer engine, whose worker may still be starting or running one.
    void retire(std::unique_ptr<SessionEngine> engine, bool transfers = false);

    // Closes every engine kept, so that the workers' jobs return at once.
    void closeAll();
    // Engines still kept.
    int count() const { return int(kept_.size()); }
    // True while a retired transfer engine's worker may still start or run a transfer: its
    // partial file is not to be touched by a new transfer of the same entry before it ended.
    bool transfersEnding() const;

Q_SIGNALS:
    // transfersEnding() became false.
    void transfersEnded();

private:
    struct Kept;
    void release();

    std::vector<std::unique_ptr<Kept>> kept_;
    bool wereEnding_ = false;
};

} // namespace zodaru
