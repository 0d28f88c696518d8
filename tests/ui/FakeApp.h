// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/FTP.h"
#include "ui/AppContext.h"

#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QList>
#include <QMap>
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
// sent), and accepts every other command. A directory is listed by "LIST path" or by
// "CWD path" then "LIST", so tests hold whichever way the client lists.
inline ScriptedFtpServer::Script browsingServer(const QMap<QByteArray, QByteArray> &listings,
                                                const QMap<QByteArray, QByteArray> &replies = {})
{
    return [listings, replies](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        for (;;) {
            const QByteArray line = s.readLine();
            const QByteArray word = line.contains(' ') ? line.left(line.indexOf(' ')) : line;
            if (replies.contains(word)) {
                s.line(replies.value(word));
                if (replies.value(word).startsWith("421"))
                    return;
            } else if (line == "PASV") {
                s.line(s.openPassive());
            } else if (word == "LIST") {
                s.line("150 Here it comes");
                s.sendData(listings.value(line.size() > 5 ? line.mid(5) : s.workingDirectory()));
                s.line("226 Done");
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
