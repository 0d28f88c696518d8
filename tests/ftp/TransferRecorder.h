// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/FTP.h"
#include "ftp/NotificationCenter.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <vector>

namespace zodaru::testing {

inline const QString kObject = QStringLiteral("DataTransfert");

// Collects the transfer notifications of one engine, as the application's handlers get
// them: on the main thread, in order.
class TransferRecorder final {
public:
    explicit TransferRecorder(const FTP *engine) : engine_(engine->id())
    {
        for (const char *name : {"ChunkOfFile", "ChunkOfFileUploaded", "FileSaved", "FileSend"})
            NotificationCenter::defaultCenter().addObserver(
                &context_, QString::fromLatin1(name), kObject, [this](const Notification &n) {
                    if (n.engine == engine_)
                        notes.push_back(n);
                });
        NotificationCenter::defaultCenter().addObserver(
            &context_, QStringLiteral("Marker"), kObject, [this](const Notification &) { ++markers_; });
    }
    Q_DISABLE_COPY_MOVE(TransferRecorder)

    static bool isCompletion(const Notification &n)
    {
        return n.name == QLatin1String("FileSaved") || n.name == QLatin1String("FileSend");
    }
    int completions() const
    {
        return int(std::count_if(notes.begin(), notes.end(), isCompletion));
    }
    bool waitForCompletion(int timeoutMs = 120000)
    {
        return QTest::qWaitFor([this] { return completions() > 0; }, timeoutMs);
    }
    // Everything posted before this call has been delivered when it returns true: a
    // completion that has not come by then was never posted.
    bool flush(int timeoutMs = 30000)
    {
        const int target = markers_ + 1;
        NotificationCenter::defaultCenter().post(QStringLiteral("Marker"), kObject, {});
        return QTest::qWaitFor([&] { return markers_ >= target; }, timeoutMs);
    }
    const Notification &completion() const
    {
        return *std::find_if(notes.begin(), notes.end(), isCompletion);
    }
    // The chunk sizes, in arrival order.
    QList<qint64> chunkSizes() const
    {
        QList<qint64> sizes;
        for (const auto &n : notes)
            if (!isCompletion(n))
                sizes.append(n.userInfo.value(QStringLiteral("size")).toLongLong());
        return sizes;
    }

    std::vector<Notification> notes;

private:
    quint64 engine_;
    QObject context_;
    int markers_ = 0;
};

} // namespace zodaru::testing
