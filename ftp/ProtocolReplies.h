// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <optional>

// Readers for the replies that carry data rather than a verdict: passive addresses, the
// server's feature list, machine listings (MLSD) and modification times. Pure functions on
// text, beside the socket code that receives it, so they are tested as tables.
namespace zodaru {

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)": the announced address and port.
struct PassiveAddress final {
    QString host; // dotted quad as announced (the engine connects to the server's own address)
    int port = 0;
};
std::optional<PassiveAddress> parsePasvReply(QStringView reply);

// "229 Entering Extended Passive Mode (|||6446|)": the port. The delimiter is whatever
// printable character the server chose, used four times.
std::optional<int> parseEpsvReply(QStringView reply);

// What a server says it can do, from the lines of its FEAT reply (211-...). Absent
// features are false: a server that refuses FEAT has none of them.
struct ServerFeatures final {
    bool utf8 = false;
    bool epsv = false;
    bool mlsd = false; // announced as "MLST <facts>"
    bool restStream = false;
    bool size = false;
    bool mdtm = false;
    bool authTls = false;
    QStringList lines; // every feature line, trimmed, as the server wrote it
};
ServerFeatures parseFeatReply(const QStringList &replyLines);

// One line of an MLSD listing: "fact=value;fact=value; name".
struct MachineListEntry final {
    enum class Kind { File, Directory, CurrentDirectory, ParentDirectory, Link, Other };
    QString name; // lossless (ByteNames): the bytes after the first space
    Kind kind = Kind::Other;
    qint64 size = -1;   // -1 when no size fact
    qint64 modified = -1; // seconds since 1970-01-01 UTC; -1 when no modify fact
};
// Nothing when the line names nothing (no "; " separator or an empty name).
std::optional<MachineListEntry> parseMlsdLine(QByteArrayView line);

// "YYYYMMDDHHMMSS[.fraction]" in UTC (MLSD's modify fact, MDTM's reply) as seconds since
// 1970-01-01 UTC; nothing when it is not such a time.
std::optional<qint64> parseFtpTime(QStringView text);

} // namespace zodaru
