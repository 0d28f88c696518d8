// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ProtocolReplies.h"

#include "base/ByteNames.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

namespace zodaru {

namespace {

// Digits only (no sign, no spaces), within `max`.
std::optional<int> boundedNumber(QStringView text, int max)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= max ? std::optional<int>(value) : std::nullopt;
}

} // namespace

std::optional<PassiveAddress> parsePasvReply(QStringView reply)
{
    // Some servers leave out the parentheses: take the first run of six numbers.
    qsizetype start = reply.indexOf(u'(');
    qsizetype end = start < 0 ? -1 : reply.indexOf(u')', start);
    QStringView inside;
    if (start >= 0 && end > start) {
        inside = reply.mid(start + 1, end - start - 1);
    } else {
        start = 4;
        while (start < reply.size() && !reply[start].isDigit())
            ++start;
        inside = reply.mid(start);
    }
    const QList<QStringView> fields = inside.split(u',');
    if (fields.size() != 6)
        return std::nullopt;
    int numbers[6];
    for (int i = 0; i < 6; ++i) {
        const auto n = boundedNumber(fields[i].trimmed(), 255);
        if (!n)
            return std::nullopt;
        numbers[i] = *n;
    }
    PassiveAddress address;
    address.host = QStringLiteral("%1.%2.%3.%4").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]).arg(numbers[3]);
    address.port = numbers[4] * 256 + numbers[5];
    if (address.port == 0)
        return std::nullopt;
    return address;
}

std::optional<int> parseEpsvReply(QStringView reply)
{
    const qsizetype open = reply.indexOf(u'(');
    const qsizetype close = open < 0 ? -1 : reply.indexOf(u')', open);
    if (close < open + 6)
        return std::nullopt;
    const QStringView inside = reply.mid(open + 1, close - open - 1);
    const QChar d = inside.front();
    if (d.unicode() < 33 || d.unicode() > 126 || d.isDigit())
        return std::nullopt;
    // <d><d><d><port><d>: no network protocol, no address.
    if (inside.size() < 5 || inside[1] != d || inside[2] != d || inside.back() != d)
        return std::nullopt;
    const auto port = boundedNumber(inside.mid(3, inside.size() - 4), 65535);
    if (!port || *port == 0)
        return std::nullopt;
    return port;
}

ServerFeatures parseFeatReply(const QStringList &replyLines)
{
    ServerFeatures features;
    for (const QString &raw : replyLines) {
        // Feature lines start with a space; the first and last lines carry the code.
        if (!raw.startsWith(QLatin1Char(' ')))
            continue;
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        features.lines.append(line);
        const QString word = line.section(QLatin1Char(' '), 0, 0).toUpper();
        const QString rest = line.section(QLatin1Char(' '), 1).trimmed().toUpper();
        if (word == QLatin1String("UTF8"))
            features.utf8 = true;
        else if (word == QLatin1String("EPSV"))
            features.epsv = true;
        else if (word == QLatin1String("MLST"))
            features.mlsd = true;
        else if (word == QLatin1String("REST") && rest.split(QLatin1Char(' ')).contains(QLatin1String("STREAM")))
            features.restStream = true;
        else if (word == QLatin1String("SIZE"))
            features.size = true;
        else if (word == QLatin1String("MDTM"))
            features.mdtm = true;
        else if (word == QLatin1String("AUTH") && rest.split(QLatin1Char(' ')).contains(QLatin1String("TLS")))
            features.authTls = true;
    }
    return features;
}

std::optional<qint64> parseFtpTime(QStringView text)
{
    if (text.size() < 14)
        return std::nullopt;
    const QStringView digits = text.left(14);
    const QStringView fraction = text.mid(14);
    if (!fraction.isEmpty()) {
        if (fraction.front() != u'.' || fraction.size() < 2)
            return std::nullopt;
        for (const QChar c : fraction.mid(1))
            if (!c.isDigit())
                return std::nullopt;
    }
    const auto part = [&](int from, int length) { return boundedNumber(digits.mid(from, length), 9999); };
    const auto year = part(0, 4), month = part(4, 2), day = part(6, 2);
    const auto hour = part(8, 2), minute = part(10, 2), second = part(12, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    const QDate date(*year, *month, *day);
    // A leap second (60) is read as the last second of its minute.
    const QTime time(*hour, *minute, qMin(*second, 59));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
}

std::optional<MachineListEntry> parseMlsdLine(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    // The facts end at the first space; the name is everything after it, spaces included.
    const qsizetype space = line.indexOf(' ');
    if (space < 0 || space + 1 >= line.size())
        return std::nullopt;
    MachineListEntry entry;
    entry.name = nameFromBytes(line.sliced(space + 1));
    const QString facts = QString::fromLatin1(line.first(space));
    for (const QString &fact : facts.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype equals = fact.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = fact.left(equals).toLower();
        const QString value = fact.mid(equals + 1);
        if (key == QLatin1String("type")) {
            const QString type = value.toLower();
            if (type == QLatin1String("file"))
                entry.kind = MachineListEntry::Kind::File;
            else if (type == QLatin1String("dir"))
                entry.kind = MachineListEntry::Kind::Directory;
            else if (type == QLatin1String("cdir"))
                entry.kind = MachineListEntry::Kind::CurrentDirectory;
            else if (type == QLatin1String("pdir"))
                entry.kind = MachineListEntry::Kind::ParentDirectory;
            else if (type.startsWith(QLatin1String("os.unix=slink")) || type.startsWith(QLatin1String("os.unix=symlink")))
                entry.kind = MachineListEntry::Kind::Link;
        } else if (key == QLatin1String("size") || key == QLatin1String("sizd")) {
            bool ok = false;
            const qint64 size = value.toLongLong(&ok);
            if (ok && size >= 0 && (key == QLatin1String("size") || entry.size < 0))
                entry.size = size;
        } else if (key == QLatin1String("modify")) {
            if (const auto time = parseFtpTime(value))
                entry.modified = *time;
        }
    }
    return entry;
}

} // namespace zodaru
