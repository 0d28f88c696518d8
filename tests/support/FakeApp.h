// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/FTP.h"
#include "model/Sites.h"
#include "model/TransferSettings.h"
#include "ui/AppContext.h"
#include "ui/MainWindowController.h"

#include "support/Fixtures.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace zodaru::test {

// Stands in for the application controller: records the actions it is asked for and hands
// out whatever engine and controller a test gives it.
class FakeApp final : public AppContext {
public:
    MainWindowController *window() const override { return controller; }
    bool isConnected() const override { return engine && engine->isConnected(); }
    const QList<File> *downloadQueue() const override { return queuesExist ? &downloads : nullptr; }
    const QList<File> *uploadQueue() const override { return queuesExist ? &uploads : nullptr; }
    const Sites *bookmarks() const override { return sites.get(); }
    SiteActions *siteActions() const override { return siteActionsFor; }

    void getParametersOfConnection() override { calls << QStringLiteral("getParametersOfConnection"); }
    void connectWithAddress(const QString &address, const QString &login, const QString &password) override
    {
        calls << QStringLiteral("connectWithAddress");
        connects.append({address, login, password});
        if (onConnect)
            onConnect();
    }
    void disconnectFromFTP() override { calls << QStringLiteral("disconnectFromFTP"); }
    void disconnectRemote() override
    {
        calls << QStringLiteral("disconnectRemote");
        ++disconnects;
    }
    void getFile() override { calls << QStringLiteral("getFile"); }
    void putFile() override { calls << QStringLiteral("putFile"); }
    // Named entries, written "get <from> [a, dir/, link@] -> <to>" (put likewise).
    void getEntries(const QString &remoteDirectory, const QList<File> &entries, const QString &localDirectory) override
    {
        entryCalls << entriesCall(QStringLiteral("get"), remoteDirectory, entries, localDirectory);
    }
    void putEntries(const QString &localDirectory, const QList<File> &entries, const QString &remoteDirectory) override
    {
        entryCalls << entriesCall(QStringLiteral("put"), localDirectory, entries, remoteDirectory);
    }
    static QString entriesCall(const QString &word, const QString &from, const QList<File> &entries, const QString &to)
    {
        QStringList names;
        for (const File &f : entries)
            names << f.name() + (f.isDir() ? QStringLiteral("/") : f.isLink() ? QStringLiteral("@") : QString());
        return QStringLiteral("%1 %2 [%3] -> %4").arg(word, from, names.join(QStringLiteral(", ")), to);
    }
    QUrl remoteSite() const override { return site; }
    // The command engine's work runs here on the calling thread; its result is handed back
    // on a later pass of the event loop, as the application does it. With holdListings,
    // listings wait in `held` until the test answers them.
    quint64 listRemote(const QString &path, ListingDone done) override
    {
        listed << path;
        if (holdListings) {
            held.append({path, std::move(done)});
            return ++serial;
        }
        std::optional<QList<File>> entries;
        if (engine && engine->isConnected())
            entries = engine->list(path);
        later([done = std::move(done), entries] { done(entries); });
        return ++serial;
    }
    quint64 remoteCommand(const QString &word, const QString &param, CommandDone done) override
    {
        const int code = engine ? engine->command(word, param) : -1;
        later([done = std::move(done), code] { done(code); });
        return ++serial;
    }
    quint64 remoteRename(const QString &from, const QString &to, RenameDone done) override
    {
        RenameReplies replies;
        if (engine) {
            replies.from = engine->command(QStringLiteral("RNFR"), from);
            if (replies.from == 350)
                replies.to = engine->command(QStringLiteral("RNTO"), to);
        }
        later([done = std::move(done), replies] { done(replies); });
        return ++serial;
    }
    void cancelTransfer(Direction direction, int index) override
    {
        calls << QStringLiteral("cancelTransfer %1 %2").arg(int(direction)).arg(index);
    }
    void retryTransfer(Direction direction, int index) override
    {
        calls << QStringLiteral("retryTransfer %1 %2").arg(int(direction)).arg(index);
    }
    void removeTransfers(Direction direction, const QList<int> &indexes) override
    {
        calls << QStringLiteral("removeTransfers %1 %2").arg(int(direction)).arg(joined(indexes));
    }
    int moveTransfers(Direction direction, const QList<int> &indexes, int before) override
    {
        calls << QStringLiteral("moveTransfers %1 %2 %3").arg(int(direction)).arg(joined(indexes)).arg(before);
        // Where the first moved entry lands, as the queue tells it.
        return before - int(std::count_if(indexes.begin(), indexes.end(), [before](int i) { return i < before; }));
    }
    void retryFailedTransfers(Direction direction) override
    {
        calls << QStringLiteral("retryFailedTransfers %1").arg(int(direction));
    }
    void clearFinishedTransfers(Direction direction) override
    {
        calls << QStringLiteral("clearFinishedTransfers %1").arg(int(direction));
    }
    void setTransfersPaused(Direction direction, bool paused) override
    {
        calls << QStringLiteral("setTransfersPaused %1 %2").arg(int(direction)).arg(paused);
        this->paused = paused;
    }
    bool transfersPaused(Direction) const override { return paused; }
    bool paused = false;
    void applyTransferSettings(const TransferSettings &settings) override
    {
        calls << QStringLiteral("applyTransferSettings");
        appliedSettings.append(settings);
    }
    QList<TransferSettings> appliedSettings;
    // "1,2,3"
    static QString joined(const QList<int> &indexes)
    {
        QStringList parts;
        for (int i : indexes)
            parts << QString::number(i);
        return parts.join(QLatin1Char(','));
    }

    // Runs the event loop until every answer handed out has been delivered, those that
    // the deliveries asked for included.
    void settle()
    {
        for (int pass = 0; pass < 1000 && *pending_ > 0; ++pass)
            QCoreApplication::processEvents();
    }
    // Answers the held listing at `index` (in the order asked).
    void answer(int index, const std::optional<QList<File>> &entries)
    {
        const Held h = held.takeAt(index);
        h.done(entries);
    }
    struct Held {
        QString path;
        ListingDone done;
    };
    bool holdListings = false;
    QList<Held> held;
    QStringList listed;
    quint64 serial = 0;

    MainWindowController *controller = nullptr;
    std::shared_ptr<FTP> engine;
    QList<File> downloads;
    QList<File> uploads;
    bool queuesExist = true; // false: start-up has not made them yet
    QStringList calls;
    QStringList entryCalls;
    QUrl site;
    int disconnects = 0;
    struct ConnectCall {
        QString server;
        QString login;
        QString password;
    };
    QList<ConnectCall> connects;
    std::function<void()> onConnect;
    std::unique_ptr<Sites> sites;
    SiteActions *siteActionsFor = nullptr;

private:
    // Shared with the deliveries, which may outlive this stand-in (a test that ends first).
    std::shared_ptr<int> pending_ = std::make_shared<int>(0);
    void later(std::function<void()> deliver)
    {
        ++*pending_;
        QTimer::singleShot(0, [pending = pending_, deliver = std::move(deliver)] {
            --*pending;
            deliver();
        });
    }
};

// The main window's controller on a FakeApp, in a working directory of its own (where the
// local browser opens). build() makes the controller, so that a test can set the FakeApp up
// first; the controller goes, and the deletions it left are run, before the directory.
class ControllerFixture : public WorkingDirectory {
public:
    FakeApp app;
    std::unique_ptr<MainWindowController> controller;

    ControllerFixture() = default;
    ~ControllerFixture() override
    {
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Q_DISABLE_COPY_MOVE(ControllerFixture)

    MainWindowController &build()
    {
        controller = std::make_unique<MainWindowController>(app);
        app.controller = controller.get();
        return *controller;
    }
};

// The captured lines that start with `prefix`, in order.
inline QStringList linesStarting(const LogCapture &log, const QString &prefix)
{
    QStringList out;
    const QStringList lines = log.lines();
    for (const QString &line : lines)
        if (line.startsWith(prefix))
            out << line;
    return out;
}

// A server that logs anyone in, lists the directories of `listings` (path to the lines
// sent), answers a command as `replies` says (by the whole line, or by its first word), and
// accepts every other command. A directory is listed by "LIST path" or by
// "CWD path" then "LIST", so tests hold whichever way the client lists.
inline ScriptedFtpServer::Script browsingServer(const QMap<QByteArray, QByteArray> &listings,
                                                const QMap<QByteArray, QByteArray> &replies = {})
{
    return [listings, replies](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        for (;;) {
            const QByteArray line = s.readLine();
            const QByteArray word = line.contains(' ') ? line.left(line.indexOf(' ')) : line;
            const QByteArray key = replies.contains(line) ? line : word; // a whole line, or its word
            if (replies.contains(key)) {
                s.line(replies.value(key));
                if (replies.value(key).startsWith("421"))
                    return;
            } else if (line == "PASV") {
                s.line(s.openPassive());
            } else if (word == "LIST") {
                s.sendReply("150 Here it comes", listings.value(line.size() > 5 ? line.mid(5) : s.workingDirectory()), "226 Done");
            } else if (line == "QUIT") {
                s.line("221 Bye");
                return;
            } else {
                s.line("250 OK");
            }
        }
    };
}

// What the remote side did, from the log, in order: "ls <path>" for each listing of the
// remote browser, and each command line logged after `sentPrefix` (" on envoie au ftp la
// commande : " for DELE, without the leading blank for MKD).
inline QStringList remoteSteps(const LogCapture &log, const QString &sentPrefix)
{
    const QString listed = QStringLiteral("On fait un ls sur >");
    QStringList out;
    for (const QString &line : log.lines()) {
        if (line.startsWith(listed))
            out << QStringLiteral("ls ") + line.mid(listed.size()).chopped(1);
        else if (line.startsWith(sentPrefix))
            out << line.mid(sentPrefix.size()).chopped(1);
    }
    return out;
}

// The commands a control connection carried, without their CR LF, keeping those that
// start with one of `words`.
inline QStringList commandsSent(const ScriptedFtpServer &server, int conn, const QStringList &words)
{
    QStringList out;
    const QList<QByteArray> lines = server.received(conn).split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).chopped(raw.endsWith('\r') ? 1 : 0);
        for (const QString &word : words)
            if (line.startsWith(word)) {
                out << line;
                break;
            }
    }
    return out;
}

} // namespace zodaru::test
