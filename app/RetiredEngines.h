// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

namespace zodaru {

class FTP;

// Keeps the engines that a session replaced until nothing can still refer to them.
//
// An idle engine is closed at once. A busy one is closed as soon as its transfer has
// ended. The object itself is kept until its worker has let go of it and every
// notification it posted has been delivered: the observers tell current transfers from
// old ones by the posting engine's address, and that address must not be handed to a new
// engine while a notification carrying it is still on its way.
class RetiredEngines final : public QObject {
    Q_OBJECT
public:
    explicit RetiredEngines(QObject *parent = nullptr);
    ~RetiredEngines() override;
    Q_DISABLE_COPY_MOVE(RetiredEngines)

    void retire(std::shared_ptr<FTP> engine);
    // Engines still kept (closed or still transferring).
    int count() const { return int(engines_.size()); }

private:
    void prune();

    std::vector<std::shared_ptr<FTP>> engines_;
    QTimer poll_;
};

} // namespace zodaru
