// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "model/TransferDirection.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace zodaru {

struct TransferSettings;

class MainWindowController;
class SiteActions;
class Sites;

// What the windows ask of the application controller: the state of its session, its queues
// and sites, and the actions of the main window's buttons that it handles. The engines stay
// behind it: the windows ask for remote work through listRemote() and remoteCommand(). The application controller
// implements it; widget tests use a stand-in.
class AppContext {
public:
    virtual ~AppContext() = default;

    virtual MainWindowController *window() const = 0;
    // True while the session's command engine has its control connection.
    virtual bool isConnected() const = 0;
    // Null until start-up has created the queues.
    virtual const QList<File> *downloadQueue() const = 0;
    virtual const QList<File> *uploadQueue() const = 0;
    virtual const Sites *bookmarks() const = 0;
    // The connected site as other programs reach it: "ftp://user@host:port", never with a
    // password; empty outside a session.
    virtual QUrl remoteSite() const { return {}; }
    // The site manager and what goes with saved sites; null where the program has none
    // (then the Bookmarks button stays disabled).
    virtual SiteActions *siteActions() const { return nullptr; }

    virtual void getParametersOfConnection() = 0;
    virtual void connectWithAddress(const QString &address, const QString &login,
                                    const QString &password) = 0;
    virtual void disconnectFromFTP() = 0;
    // Closes the session without talking to the server (the command connection was lost).
    virtual void disconnectRemote() = 0;
    virtual void getFile() = 0;
    virtual void putFile() = 0;
    // Transfers named entries rather than the browsers' selections (drag and drop): the
    // entries of `remoteDirectory` to `localDirectory`, or back. Directories are given with
    // isDir() (File(name, size, 1)); their whole trees are transferred.
    virtual void getEntries(const QString &remoteDirectory, const QList<File> &entries, const QString &localDirectory)
    {
        Q_UNUSED(remoteDirectory);
        Q_UNUSED(entries);
        Q_UNUSED(localDirectory);
    }
    virtual void putEntries(const QString &localDirectory, const QList<File> &entries, const QString &remoteDirectory)
    {
        Q_UNUSED(localDirectory);
        Q_UNUSED(entries);
        Q_UNUSED(remoteDirectory);
    }

    // --- Work on the command engine, off the main thread ---
    // The results come back on the main thread, in the order the requests were made; each
    // request has a serial number (never reused) so that a caller can drop a result that no
    // longer matters. Without a connected command engine the result comes back failed (on
    // a later pass of the event loop, never inside the call). When a request finds the
    // command connection lost, the session's disconnect path runs after `done`.

    // Lists a remote directory: the entries, or nothing when the listing failed.
    using ListingDone = std::function<void(const std::optional<QList<File>> &entries)>;
    virtual quint64 listRemote(const QString &path, ListingDone done) = 0;
    // Sends one command (DELE, MKD) and gives its reply code (-1 when not sent or no reply).
    using CommandDone = std::function<void(int code)>;
    virtual quint64 remoteCommand(const QString &word, const QString &param, CommandDone done) = 0;
    // Renames `from` to `to` (full paths): RNFR then, once the server said 350, RNTO, with
    // nothing between them. The codes of both replies (-1: not sent or no reply).
    struct RenameReplies {
        int from = -1;
        int to = -1;
        bool done() const { return from == 350 && to >= 200 && to < 300; }
    };
    using RenameDone = std::function<void(RenameReplies replies)>;
    virtual quint64 remoteRename(const QString &from, const QString &to, RenameDone done) = 0;

    // --- Transfer entries, by their index in their queue ---
    using Direction = TransferDirection;
    // A waiting entry is marked cancelled; a running one is stopped at once (its partial
    // file removed) and marked cancelled; the queue goes on. Finished entries stay as they are.
    virtual void cancelTransfer(Direction direction, int index) = 0;
    // A failed or cancelled entry waits again, at its place, for the queue to reach it.
    virtual void retryTransfer(Direction direction, int index) = 0;
    // Takes entries out of the queue; a running one is cancelled and goes at its end. A
    // folder row takes its files along.
    virtual void removeTransfers(Direction direction, const QList<int> &indexes)
    {
        Q_UNUSED(direction);
        Q_UNUSED(indexes);
    }
    // Moves entries, in their order, before the one at `before` (the end: the queue's
    // size); returns where the first of them is now.
    virtual int moveTransfers(Direction direction, const QList<int> &indexes, int before)
    {
        Q_UNUSED(direction);
        Q_UNUSED(indexes);
        return before;
    }
    // Every failed or cancelled entry waits again.
    virtual void retryFailedTransfers(Direction direction) { Q_UNUSED(direction); }
    // Takes out the entries done or skipped.
    virtual void clearFinishedTransfers(Direction direction) { Q_UNUSED(direction); }
    // A paused queue starts nothing new; the running transfer goes on to its end.
    virtual void setTransfersPaused(Direction direction, bool paused)
    {
        Q_UNUSED(direction);
        Q_UNUSED(paused);
    }
    virtual bool transfersPaused(Direction direction) const
    {
        Q_UNUSED(direction);
        return false;
    }
    // The user changed how transfers run: they are written to the settings file already;
    // the session's connections and speed limits follow at once.
    virtual void applyTransferSettings(const TransferSettings &settings) { Q_UNUSED(settings); }
};

} // namespace zodaru
