// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/EngineSettings.h"
#include "ftp/RemoteFacts.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace zodaru {

class EngineConnections;
class Socket;

// The control connection's protocol: commands written, replies read, and the commands
// sent ahead (written in the same write as another, their replies read later, in order).
// A time-out, a limit passed, a 421 or a broken connection drops both connections.
// Used by the engine's current thread only (the one running its operation or transfer).
class ControlChannel final {
public:
    ControlChannel(EngineConnections &connections, const EngineSettings &settings);
    Q_DISABLE_COPY_MOVE(ControlChannel)

    // A command whose reply is read later.
    struct SentAhead {
        QString word;
        QString param;
    };

    // Logs "On est Deconnecte" when there is no control connection.
    bool isConnected() const;
    // The data connection's target: the control connection's peer, whatever its family.
    QString serverAddress() const;

    // Reads one whole reply (following "nnn-" continuation lines); `lastLine` receives the
    // last line read. `logCode` false leaves out the per-line code log (the PASV exchange).
    // `lineMs` > 0 waits that long for each line instead of the usual limit.
    int readReply(bool logCode, QString *lastLine, QStringList *allLines = nullptr, int lineMs = 0);
    int ret() { return readReply(true, nullptr); }
    // Puts one command line on the wire (CR LF added, CR or LF inside refused); false when
    // nothing could be sent.
    bool send(const QString &word, const QString &param);
    // send() then ret(); -1 when nothing was sent.
    int exchange(const QString &word, const QString &param);
    // A command whose reply carries data: `lastLine` receives its last line.
    int query(const QString &word, const QString &param, QString *lastLine);
    // The bytes of one command line, CR LF added; none (and a log line) when the command
    // holds a CR or LF.
    static std::optional<QByteArray> commandLine(const QString &word, const QString &param);
    // Writes command lines already made; a failed write closes the engine. `word` and
    // `param` name the first command in the log.
    bool writeCommands(const QByteArray &bytes, const QString &word, const QString &param);
    // What the log may show of a command line: a password never reaches it.
    static QString shownLine(const QString &word, const QString &param);

    // --- commands sent ahead ---
    // Writes `commands` in one write; their replies are read by the settle calls. False
    // (nothing sent) when one cannot be sent.
    bool sendAhead(const QList<SentAhead> &commands);
    // Records commands already written (along with another) whose replies are still due.
    void expectAhead(const QList<SentAhead> &commands) { ahead_.append(commands); }
    bool hasAhead() const { return !ahead_.isEmpty(); }
    // The word of the oldest and of the newest command ahead; empty when none.
    QString firstAhead() const { return ahead_.isEmpty() ? QString() : ahead_.first().word; }
    QString lastAhead() const { return ahead_.isEmpty() ? QString() : ahead_.last().word; }
    // Reads the reply to the oldest command ahead, when there is one; its code, or
    // nothing. `lineMs` as for readReply(); `lastLine` receives the reply's last line.
    std::optional<int> settleAhead(int lineMs = 0, QString *lastLine = nullptr);
    // Reads the replies to every command still ahead; the last one's code, -1 when none.
    // A transfer the server took up (a preliminary reply) while this side has no data
    // connection for it cannot be kept in step: the connection is closed.
    int settleAllAhead(int lineMs = 0);
    // The replies to the SIZE and MDTM that lead what is ahead; nothing when neither went.
    std::optional<RemoteFacts> settleFactsAhead();
    // Reads the reply to the transfer or listing command that went along, once TYPE's has
    // been read; its code. When TYPE was refused and the command taken up all the same,
    // `data` is closed unread and the completion read, so the connection stays in step.
    int settleCommandAhead(bool typeRefused, Socket &data);
    // Reads what is still ahead when no data connection was made for the `verb` sent
    // along: its reply code, -1 when it did not go along, was not answered in time (the
    // connection is then closed) or was taken up.
    int settleWithoutDataConnection(const QString &verb);

    // A time-out counts as a lost connection: one log line, then both connections drop.
    void closeAfterTimeout(const char *where);
    // A limit passed or a broken connection: `why` is logged, then both connections drop.
    void closeBecause(const QString &why);

private:
    EngineConnections &connections_;
    const EngineSettings &settings_;
    // The commands sent ahead whose replies are still to be read, oldest first.
    QList<SentAhead> ahead_;
};

} // namespace zodaru
