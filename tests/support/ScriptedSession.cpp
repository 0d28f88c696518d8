// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedSession.h"

#include <QtGlobal>

#include <algorithm>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zodaru::testing {

namespace {

using Session = ScriptedFtpServer::Session;
using DataConnection = ScriptedFtpServer::DataConnection;

struct Statement
{
    QByteArray word;
    QList<QByteArray> args; // quoted strings and $values already resolved to their bytes
    int line = 0;
};

// What one statement may touch while the script runs.
struct Run
{
    Session &s;
    std::optional<DataConnection> data;
};

using Action = std::function<void(Run &, const QList<QByteArray> &)>;

struct Verb
{
    int arguments; // exact count, or -1: any
    Action act;
};

DataConnection &held(Run &r)
{
    if (!r.data)
        throw std::runtime_error("no data connection was accepted");
    return *r.data;
}

qsizetype number(const QByteArray &arg)
{
    bool ok = false;
    const qsizetype n = arg.toLongLong(&ok);
    if (!ok)
        throw std::runtime_error("not a number: " + arg.toStdString());
    return n;
}

// Answers commands until the client closes: QUIT with 221 and a close, NOOP with `noop`,
// anything else with 200.
void answerRest(Session &s, QByteArrayView noop)
{
    for (QByteArray got; s.readLineOrEof(got);) {
        const QByteArray upper = got.toUpper();
        if (upper.startsWith("QUIT")) {
            s.line("221 Bye");
            s.closeControl();
            return;
        }
        s.line(upper == "NOOP" ? noop : QByteArrayView("200 OK"));
    }
}

// Ends the script from inside a statement: the runner stops there.
struct EndOfScript
{
};

const QHash<QByteArray, Verb> &verbs()
{
    static const QHash<QByteArray, Verb> table{
        {"greet", {0, [](Run &r, auto &) { r.s.line("220 Scripted server ready"); }}},
        {"login", {0, [](Run &r, auto &) { r.s.greetAndLogin(); }}},
        {"features", {-1, [](Run &r, auto &a) { r.s.offerFeatures(a); }}},
        {"expect", {1, [](Run &r, auto &a) { r.s.expect(a[0]); }}},
        {"reply", {1, [](Run &r, auto &a) { r.s.line(a[0]); }}},
        {"send", {1, [](Run &r, auto &a) { r.s.send(a[0]); }}},
        {"skip", {1, [](Run &r, auto &a) { r.s.skipLines(int(number(a[0]))); }}},
        {"sleep", {1, [](Run &, auto &a) { std::this_thread::sleep_for(std::chrono::milliseconds(number(a[0]))); }}},
        {"close", {0, [](Run &r, auto &) { r.s.closeControl(); }}},
        {"reset", {0, [](Run &r, auto &) { r.s.resetControl(); }}},
        {"silence", {0, [](Run &r, auto &) { r.s.stall(); }}},
        {"eof", {0, [](Run &r, auto &) { r.s.waitForEof(); }}},
        {"await", {1, [](Run &r, auto &a) { r.s.awaitRelease(a[0]); }}},
        {"mark", {1, [](Run &r, auto &a) { r.s.mark(a[0]); }}},
        {"end", {0, [](Run &, auto &) { throw EndOfScript{}; }}},
        {"rest", {0, [](Run &r, auto &) { answerRest(r.s, "200 OK"); }}},
        {"step", {0, [](Run &r, auto &) { answerRest(r.s, "254 In step"); }}},
        {"tls", {0, [](Run &r, auto &) { r.s.startTls(); }}},
        {"auth-tls", {0, [](Run &r, auto &) {
             r.s.expect("AUTH TLS");
             r.s.line("234 Proceed with negotiation");
             r.s.startTls();
         }}},
        {"protect", {0, [](Run &r, auto &) { r.s.protectData(true); }}},
        {"passive", {0, [](Run &r, auto &) { r.s.line(r.s.openPassive()); }}},
        {"passive-epsv", {0, [](Run &r, auto &) {
             r.s.openPassive();
             r.s.line(Session::epsvReply(r.s.passivePort()));
         }}},
        {"passive-epsv-closed", {0, [](Run &r, auto &) {
             r.s.openPassive();
             const quint16 closed = r.s.passivePort();
             r.s.openPassive(); // closes the listener on `closed`
             r.s.line(Session::epsvReply(closed));
         }}},
        {"passive-as", {1, [](Run &r, auto &a) {
             r.s.openPassive();
             const quint16 port = r.s.passivePort();
             QByteArray text = a[0];
             r.s.line(text.replace("%1", QByteArray::number(port / 256)).replace("%2", QByteArray::number(port % 256)));
         }}},
        {"pasv", {0, [](Run &r, auto &) {
             r.s.expect("PASV");
             r.s.line(r.s.openPassive());
         }}},
        {"epsv", {0, [](Run &r, auto &) {
             r.s.expect("EPSV");
             r.s.openPassive();
             r.s.line(Session::epsvReply(r.s.passivePort()));
         }}},
        {"transfer", {2, [](Run &r, auto &a) {
             r.s.expect("PASV");
             r.s.line(r.s.openPassive());
             r.s.expect("TYPE I");
             r.s.line("200 Binary");
             r.s.expect(a[0]);
             r.s.line(a[1]);
         }}},
        {"listing", {1, [](Run &r, auto &a) {
             r.s.expect("PASV");
             r.s.line(r.s.openPassive());
             r.s.expect("TYPE A");
             r.s.line("200 Type set");
             r.s.expect("LIST");
             r.s.line(a[0]);
         }}},
        {"data", {1, [](Run &r, auto &a) { r.s.sendData(a[0]); }}},
        {"data-wait", {1, [](Run &r, auto &a) { r.s.sendDataThenWaitForClose(a[0]); }}},
        {"data-reset", {1, [](Run &r, auto &a) { r.s.resetData(a[0]); }}},
        {"data-stall", {1, [](Run &r, auto &a) { r.s.stallData(a[0]); }}},
        {"receive", {0, [](Run &r, auto &) { r.s.receiveData(); }}},
        {"receive-reset", {1, [](Run &r, auto &a) { r.s.resetDataAfterReceiving(number(a[0])); }}},
        {"accept", {0, [](Run &r, auto &) {
             r.data.reset();
             r.data.emplace(r.s.acceptData());
         }}},
        {"dsend", {1, [](Run &r, auto &a) { held(r).send(a[0]); }}},
        {"dflood", {1, [](Run &r, auto &a) {
             for (;;)
                 held(r).send(a[0]); // until the client closes: the failing send ends the script
         }}},
        {"dreceive", {1, [](Run &r, auto &a) { held(r).receive(number(a[0])); }}},
        {"dreceive-all", {0, [](Run &r, auto &) { held(r).receiveAll(); }}},
        {"dcut", {0, [](Run &r, auto &) { held(r).cut(); }}},
        {"dclose", {0, [](Run &r, auto &) { held(r).close(); }}},
        {"dreset", {0, [](Run &r, auto &) { held(r).reset(); }}},
        {"dfinish", {0, [](Run &r, auto &) { held(r).finishAndWaitForClose(); }}},
        {"dhold", {0, [](Run &r, auto &) { held(r); }}},
    };
    return table;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Splits `text` into statements; throws std::runtime_error with the line of a mistake.
std::vector<Statement> parse(QByteArrayView text, const ScriptValues &values)
{
    std::vector<Statement> out;
    Statement current;
    int line = 1;
    const auto fail = [&](const QByteArray &what) {
        throw std::runtime_error(QStringLiteral("script line %1: %2").arg(line).arg(QString::fromUtf8(what)).toStdString());
    };
    const auto finish = [&] {
        if (current.word.isEmpty())
            return;
        const auto verb = verbs().constFind(current.word);
        if (verb == verbs().cend())
            fail("unknown statement \"" + current.word + '"');
        if (verb->arguments >= 0 && verb->arguments != current.args.size())
            fail('"' + current.word + "\" takes " + QByteArray::number(verb->arguments) + " argument(s)");
        current.line = line;
        out.push_back(std::move(current));
        current = Statement{};
    };
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n' || c == ';') {
            finish();
            line += c == '\n';
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '"') {
            QByteArray arg;
            for (++i;; ++i) {
                if (i >= text.size())
                    fail("unterminated string");
                char ch = text[i];
                if (ch == '"')
                    break;
                if (ch == '\\') {
                    if (++i >= text.size())
                        fail("unterminated string");
                    ch = text[i];
                    if (ch == 'r')
                        ch = '\r';
                    else if (ch == 'n')
                        ch = '\n';
                    else if (ch == 't')
                        ch = '\t';
                    else if (ch == 'x') {
                        const int hi = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
                        const int lo = hi >= 0 ? hexDigit(text[i + 2]) : -1;
                        if (lo < 0)
                            fail("bad \\x escape");
                        ch = char(hi * 16 + lo);
                        i += 2;
                    } else if (ch != '\\' && ch != '"') {
                        fail("unknown escape");
                    }
                }
                arg.append(ch);
            }
            ++i;
            if (current.word.isEmpty())
                fail("a statement starts with a word");
            current.args.append(arg);
        } else {
            qsizetype end = i;
            while (end < text.size() && !QByteArrayView(" \t\r\n;\"").contains(text[end]))
                ++end;
            const QByteArray token = text.sliced(i, end - i).toByteArray();
            i = end;
            if (current.word.isEmpty()) {
                current.word = token;
            } else if (token.startsWith('$')) {
                const auto value = values.constFind(token.mid(1));
                if (value == values.cend())
                    fail("no value named " + token);
                current.args.append(*value);
            } else {
                current.args.append(token);
            }
        }
    }
    finish();
    return out;
}

std::vector<Statement> parseOrDie(QByteArrayView text, const ScriptValues &values)
{
    try {
        return parse(text, values);
    } catch (const std::runtime_error &e) {
        qFatal("malformed server script: %s", e.what());
    }
}

void play(Session &session, const std::vector<Statement> &statements)
{
    Run run{session, std::nullopt};
    try {
        for (const Statement &st : statements)
            verbs().value(st.word).act(run, st.args);
    } catch (const EndOfScript &) {
    }
}

} // namespace

ScriptedFtpServer::Script scripted(QByteArrayView text, const ScriptValues &values)
{
    auto statements = std::make_shared<const std::vector<Statement>>(parseOrDie(text, values));
    return [statements](Session &s) { play(s, *statements); };
}

ScriptedFtpServer::Script scriptedPerConnection(const QList<QByteArray> &texts, const ScriptValues &values)
{
    auto scripts = std::make_shared<std::vector<std::vector<Statement>>>();
    for (const QByteArray &text : texts)
        scripts->push_back(parseOrDie(text, values));
    if (scripts->empty())
        qFatal("scriptedPerConnection: no script");
    return [scripts](Session &s) { play(s, scripts->at(std::min(size_t(s.index()), scripts->size() - 1))); };
}

void playScript(Session &session, QByteArrayView text, const ScriptValues &values)
{
    play(session, parseOrDie(text, values));
}

QByteArray quoted(QByteArrayView bytes)
{
    QByteArray out = "\"";
    for (const char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (uchar(c) < 0x20 || uchar(c) >= 0x7f) {
            out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

} // namespace zodaru::testing
