// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/ScriptedFtpServer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

// A server's side of an FTP exchange written as data rather than code, run on a
// ScriptedFtpServer::Session. A script is a list of statements, one per line or separated
// by ';'. A statement is a word and its arguments: quoted strings ("250 Okay", with the
// escapes \r \n \t \\ \" and \xHH), bare words or numbers, or $name for bytes handed in by
// the test (a payload too large or too binary to write inline).
//
//     ScriptedFtpServer server(scripted(R"(
//         login
//         expect "CWD /pub"; reply "250 Okay"
//         transfer "RETR /pub/a.bin" "150 Here it comes"
//         data $payload; reply "226 Transfer complete"
//         rest
//     )", {{"payload", patternBytes(40000)}}));
//
// Control connection
//   greet                 "220 Scripted server ready"
//   login                 greet, USER -> 331, PASS -> 230
//   features "A" "B"...   the lines FEAT is answered with from now on
//   expect "prefix"       reads one line; a mismatch is a failure and ends the script
//   reply "text"          one line, CR LF added;   send "raw"   bytes as given
//   skip N                reads N lines, whatever they are
//   sleep MS              waits before the next statement (a slow server, not a check)
//   close | reset         FIN | RST on the control connection
//   silence               never answers again (records what comes)
//   eof                   waits until the client closes
//   mark "name"           the test's server.waitForMark(conn, "name") returns
//   await "name"          waits until the test calls server.release("name")
//   end                   ends the script (the control connection is then closed)
//   rest                  answers everything: QUIT with 221 and a close, the rest with 200
//   step                  the same, but NOOP with "254 In step": a client that reads a
//                         stale reply for its NOOP is caught
// TLS (the server's certificate is self-signed: the client's check must accept it)
//   tls                   the handshake on the control connection, now
//   auth-tls              expects AUTH TLS, answers 234, then the handshake
//   protect               data connections accepted from now on speak TLS
// Passive data
//   pasv                  expects PASV, answers with a fresh listener's 227
//   epsv                  expects EPSV, answers with a fresh listener's 229
//   passive | passive-epsv   the same answers without reading a command
//   passive-as "text"     a fresh listener, announced with `text` in which %1 and %2
//                         stand for the port's two bytes (malformed 227 replies)
//   passive-epsv-closed   a 229 naming a port where nothing listens any more
//   transfer "CMD" "reply"   pasv, TYPE I -> 200, CMD -> reply
//   listing "reply"          pasv, TYPE A -> 200, LIST -> reply
//   data X                accepts, sends X, closes;  data-wait X  then waits for the
//                         client's close;  data-reset X  sends X then RST;
//                         data-stall X  sends X then hangs (ends the script)
//   receive               accepts, reads to the client's close (recorded), closes
//   receive-reset N       accepts, reads N bytes, RST
// One data connection held while the control connection goes on
//   accept                accepts it (a previous one is closed)
//   dsend X | dreceive N | dreceive-all | dclose (close_notify under TLS, then FIN) |
//   dreset | dfinish (FIN, then read to the client's close) | dhold (keeps it open and
//   silent; it closes at the script's end) | dflood X (sends X until the client closes)
//   dcut                  FIN without a TLS close_notify (a plain dclose in clear)
namespace zodaru::testing {

using ScriptValues = QHash<QByteArray, QByteArray>;

// Parses `text` now (a malformed script stops the test program with its message) and
// returns the script that plays it. The values are copied into the script.
ScriptedFtpServer::Script scripted(QByteArrayView text, const ScriptValues &values = {});
// One script per control connection in the order of acceptance; the last one plays every
// later connection too (a client that reopens its session).
ScriptedFtpServer::Script scriptedPerConnection(const QList<QByteArray> &texts, const ScriptValues &values = {});

// Plays `text` on a session now: for scripts that mix code and data.
void playScript(ScriptedFtpServer::Session &session, QByteArrayView text, const ScriptValues &values = {});

// A quoted script argument holding `bytes` exactly (for building scripts in tables).
QByteArray quoted(QByteArrayView bytes);

} // namespace zodaru::testing
