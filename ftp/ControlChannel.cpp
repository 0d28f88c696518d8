// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ControlChannel.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/EngineConnections.h"
#include "net/Connect.h"
#include "net/Socket.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace zodaru {

namespace {

constexpr qsizetype kMaxReplyLine = 64 * 1024;
constexpr int kServiceClosing = 421;

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::clamp<qint64>(left.count(), 0, INT_MAX));
}

// What one reply may still take: its overall deadline and the bytes left of its budget.
struct ReplyBudget {
    Clock::time_point deadline;
    qint64 bytesLeft;
};

enum class LineEnd { Complete, TimedOut, TooLong, Closed };

// One reply line read a byte at a time from the connection's read-ahead, so that the
// next reply stays there for the next read.
// Only CR LF ends a line; past 64 KiB the line is cut and the rest discarded (it is still
// read to its end, so the next reply stays in step). Each line has its own time limit,
// and the reply's budget bounds all of its lines together.
LineEnd readReplyLine(Socket &control, int lineMs, ReplyBudget &budget, QByteArray &line)
{
    const auto deadline = std::min(Clock::now() + std::chrono::milliseconds(lineMs), budget.deadline);
    bool heldCr = false;
    auto append = [&line](char c) {
        if (line.size() < kMaxReplyLine)
            line.append(c);
    };
    for (;;) {
        char c = 0;
        const qint64 n = control.readBuffered(&c, 1, millisecondsUntil(deadline));
        if (n == Socket::TimedOut)
            return LineEnd::TimedOut;
        if (n != 1)
            return LineEnd::Closed;
        if (--budget.bytesLeft < 0)
            return LineEnd::TooLong;
        if (c == '\r') {
            heldCr = true; // a second CR in a row is dropped
            continue;
        }
        if (c == '\n' && heldCr)
            return LineEnd::Complete;
        if (heldCr) {
            append('\r');
            heldCr = false;
        }
        append(c);
    }
}

// atoi() on untrusted text: leading white space, an optional sign, then digits; 0 when
// there are none. Saturates instead of overflowing.
qint64 leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value < INT_MAX)
            value = value * 10 + (text[i].unicode() - u'0');
    }
    value = qMin<qint64>(value, INT_MAX);
    return negative ? -value : value;
}

// What the log may show of a command: a password never reaches it.
bool isPassCommand(const QString &word)
{
    return word.compare(QLatin1String("PASS"), Qt::CaseInsensitive) == 0
        || word.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive);
}

QString shownWord(const QString &word)
{
    return word.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive) ? word.left(5) + QLatin1String("****")
                                                                        : word;
}

QString shownParam(const QString &word, const QString &param)
{
    return isPassCommand(word) && !param.isEmpty() ? QStringLiteral("****") : param;
}

} // namespace

ControlChannel::ControlChannel(EngineConnections &connections, const EngineSettings &settings)
    : connections_(connections), settings_(settings)
{
}

QString ControlChannel::shownLine(const QString &word, const QString &param)
{
    const QString w = shownWord(word);
    const QString p = shownParam(word, param);
    return p.isEmpty() ? w : w + QLatin1Char(' ') + p;
}

bool ControlChannel::isConnected() const
{
    if (connections_.control())
        return true;
    zlog("On est Deconnecte");
    return false;
}

int ControlChannel::exchange(const QString &word, const QString &param)
{
    return send(word, param) ? ret() : -1;
}

bool ControlChannel::sendAhead(const QList<SentAhead> &commands)
{
    QByteArray lines;
    for (const SentAhead &command : commands) {
        const auto line = commandLine(command.word, command.param);
        if (!line)
            return false;
        lines += *line;
    }
    if (commands.isEmpty() || !writeCommands(lines, commands.first().word, commands.first().param))
        return false;
    ahead_.append(commands);
    return true;
}

int ControlChannel::readReply(bool logCode, QString *lastLine, QStringList *allLines, int lineMs)
{
    if (!isConnected())
        return -1;
    EngineTimeouts limitsInTime = settings_.timeouts;
    if (lineMs > 0)
        limitsInTime.replyLine = lineMs;
    ReplyBudget budget{Clock::now() + std::chrono::milliseconds(limitsInTime.replyTotal), settings_.limits.replyBytes};
    int lastCode = -1;
    QString line;
    QByteArray opening;
    for (;;) {
        const auto control = connections_.control();
        if (!control)
            return -1; // closed from another thread
        QByteArray bytes;
        switch (readReplyLine(*control, limitsInTime.replyLine, budget, bytes)) {
        case LineEnd::Complete:
            break;
        case LineEnd::TimedOut:
            closeAfterTimeout("ret");
            return -1;
        case LineEnd::TooLong:
            closeBecause(QStringLiteral("Reponse trop longue dans ret : on ferme la connexion"));
            return -1;
        case LineEnd::Closed:
            // The reply was cut: its outcome is unknown and nothing more will come.
            if (!bytes.isEmpty())
                zlog("RET() ==> %@", nameFromBytes(bytes));
            zlog("Connexion de controle perdue dans ret : on ferme la connexion");
            zlog("CLOSING CONNECTION !");
            connections_.dropAll();
            return -1;
        }
        line = nameFromBytes(bytes);
        zlog("RET() ==> %@", line);
        if (lastLine)
            *lastLine = line;
        if (allLines)
            allLines->append(line);
        // Inside a reply opened with "nnn-", only "nnn " with the same code ends it; any
        // other line is text (FEAT's feature lines start with a space).
        if (!opening.isEmpty() && !(bytes.startsWith(opening) && bytes.size() > 3 && bytes.at(3) == ' '))
            continue;
        if (bytes.size() < 4)
            return -1; // no code to read: the caller must not take it for an answer
        lastCode = int(leadingInteger(QStringView(line).left(3)));
        if (logCode)
            zlog("ret : %d", lastCode);
        if (bytes.at(3) != '-')
            break;
        if (opening.isEmpty())
            opening = bytes.left(3);
    }
    if (lastCode == kServiceClosing) {
        // The server is going away: the connection is of no further use.
        zlog("CLOSING CONNECTION !");
        connections_.dropAll();
    } else if (lastCode >= 400) {
        // A refusal concerns this command only; the session goes on.
        zlog("Commande refusee par le serveur : %@", line);
    }
    return lastCode;
}

std::optional<QByteArray> ControlChannel::commandLine(const QString &word, const QString &param)
{
    QString line = word;
    if (!param.isEmpty())
        line += QLatin1Char(' ') + param;

    // A CR or LF anywhere, the end included, would end the command early or put a second
    // one on the wire, for instance from a file name chosen by the server. The terminator
    // is added here and nowhere else.
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
        zlog("Commande refusee (retour a la ligne dans la commande) : %@", shownLine(word, param));
        return std::nullopt;
    }
    QByteArray bytes = bytesOfName(line);
    bytes.append("\r\n");
    return bytes;
}

bool ControlChannel::writeCommands(const QByteArray &bytes, const QString &word, const QString &param)
{
    if (const auto control = connections_.control()) {
        if (!control->writeAll(bytes.constData(), bytes.size(), settings_.timeouts.replyLine)) {
            zlog("Exception recue dans command: %@ withParam: %@ ==> %@", shownWord(word), shownParam(word, param),
                 systemErrorReason("write"));
            // Whatever the error, the control connection can no longer carry a command.
            connections_.dropAll();
            return false;
        }
    }
    return true;
}

bool ControlChannel::send(const QString &word, const QString &param)
{
    const auto bytes = commandLine(word, param);
    if (!bytes)
        return false;
    zlog("=> >%@<", shownLine(word, param));
    return writeCommands(*bytes, word, param);
}

int ControlChannel::query(const QString &word, const QString &param, QString *lastLine)
{
    return send(word, param) ? readReply(true, lastLine) : -1;
}

std::optional<int> ControlChannel::settleAhead(int lineMs, QString *lastLine)
{
    if (ahead_.isEmpty())
        return std::nullopt;
    const SentAhead command = ahead_.takeFirst();
    // Logged where it would have been sent one by one: just before its reply.
    zlog("=> >%@<", shownLine(command.word, command.param));
    return readReply(true, lastLine, nullptr, lineMs);
}

std::optional<RemoteFacts> ControlChannel::settleFactsAhead()
{
    std::optional<RemoteFacts> facts;
    while (!ahead_.isEmpty()) {
        const QString &word = ahead_.first().word;
        const bool size = word == QLatin1String("SIZE");
        if (!size && word != QLatin1String("MDTM"))
            break;
        if (!facts)
            facts.emplace();
        QString reply;
        const int code = settleAhead(0, &reply).value_or(-1);
        facts->take(size, code, reply);
    }
    return facts;
}

int ControlChannel::settleAllAhead(int lineMs)
{
    int code = -1;
    while (const auto answer = settleAhead(lineMs)) {
        code = *answer;
        if (code >= 100 && code < 200) {
            ahead_.clear();
            closeBecause(QStringLiteral("Transfert commence sans connexion de donnees : on ferme la connexion"));
            return -1;
        }
    }
    return code;
}

int ControlChannel::settleCommandAhead(bool typeRefused, Socket &data)
{
    const int code = settleAhead().value_or(-1);
    // Taken up in the wrong representation: nothing is read from it, and the server's
    // completion reply is read once the connection is closed.
    if (typeRefused && code >= 100 && code < 400) {
        data.shutdownBoth();
        if (code < 200)
            ret();
    }
    return code;
}

int ControlChannel::settleWithoutDataConnection(const QString &verb)
{
    // A server refuses a command sent along at once, and may close its passive listener
    // before the connection comes: its answer is there. One that took the command up waits
    // for the connection instead, and would answer only at its own time-out; a short wait
    // tells the two apart, and closes the connection in the second.
    static constexpr int kAnswerWithoutDataConnectionMs = 2000;
    const bool wentAlong = !ahead_.isEmpty() && ahead_.last().word == verb;
    const int answer = settleAllAhead(wentAlong ? kAnswerWithoutDataConnectionMs : 0);
    return wentAlong ? answer : -1;
}

void ControlChannel::closeAfterTimeout(const char *where)
{
    zlog("Delai depasse dans %@ : on ferme la connexion", where);
    connections_.dropAll();
}

void ControlChannel::closeBecause(const QString &why)
{
    zlog("%@", why);
    connections_.dropAll();
}

QString ControlChannel::serverAddress() const
{
    const auto control = connections_.control();
    return control ? peerAddress(control->fileDescriptor()) : QString();
}

} // namespace zodaru
