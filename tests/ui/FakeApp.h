// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/FTP.h"
#include "ftp/Log.h"
#include "ui/AppContext.h"

#include <QList>
#include <QStringList>

#include <memory>

namespace zodaru::test {

// Stands in for the application controller: records the actions it is asked for and hands
// out whatever engine and controller a test gives it.
class FakeApp final : public AppContext {
public:
    MainWindowController *window() const override { return controller; }
    std::shared_ptr<FTP> ftp() const override { return engine; }
    const QList<File> *downloadQueue() const override { return &downloads; }
    const QList<File> *uploadQueue() const override { return &uploads; }
    const Sites *bookmarks() const override { return nullptr; }

    void getParametersOfConnection() override { calls << QStringLiteral("getParametersOfConnection"); }
    void connectWithAddress(const QString &, const QString &, const QString &) override
    {
        calls << QStringLiteral("connectWithAddress");
    }
    void disconnectFromFTP() override { calls << QStringLiteral("disconnectFromFTP"); }
    void disconnectRemote() override { calls << QStringLiteral("disconnectRemote"); }
    void getFile() override { calls << QStringLiteral("getFile"); }
    void putFile() override { calls << QStringLiteral("putFile"); }

    MainWindowController *controller = nullptr;
    std::shared_ptr<FTP> engine;
    QList<File> downloads;
    QList<File> uploads;
    QStringList calls;
};

// Captures the log for the life of the object.
class LogCapture final {
public:
    LogCapture()
    {
        setLogSink([this](const QString &line) { lines << line; });
    }
    ~LogCapture() { setLogSink({}); }
    Q_DISABLE_COPY_MOVE(LogCapture)

    // The captured lines that start with `prefix`, in order.
    QStringList starting(const QString &prefix) const
    {
        QStringList out;
        for (const QString &line : lines)
            if (line.startsWith(prefix))
                out << line;
        return out;
    }

    QStringList lines;
};

} // namespace zodaru::test
