// SPDX-License-Identifier: GPL-3.0-or-later
// A listing's data: read whole within the listing limit, then made into entries within the
// entry limits, so that neither grows with what a server sends past them.
#include "ftp/DirectoryListing.h"

#include "ftp/ControlChannel.h"
#include "ftp/DataChannel.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/ftpparse.h"
#include "net/Socket.h"

#include <QScopeGuard>

#include <algorithm>
#include <climits>

namespace zodaru {

namespace {

// The shortest line that may name something ("+\tx" in EPLF, "; x" in MLSD): shorter
// ones get no room when room is made for the entries.
constexpr qsizetype kShortestNamingLine = 3;

// What one entry holds in memory: the entry and its name's characters.
qint64 entryBytes(qsizetype nameLength)
{
    return qint64(sizeof(File)) + qint64(nameLength) * qint64(sizeof(QChar));
}

bool isCompletion(int code)
{
    return code >= 200 && code < 300;
}

} // namespace

DirectoryListing::DirectoryListing(ControlChannel &control, DataChannel &data, const EngineSettings &settings,
                 const ServerFeatures &features)
    : control_(control), data_(data), settings_(settings), features_(features)
{
}

std::optional<QList<File>> DirectoryListing::list(const QString &path)
{
    zlog("On entre dans list()");
    const auto exitLog = qScopeGuard([] { zlog("Sortie de la fonction list()"); });
    if (!control_.isConnected())
        return std::nullopt;
    // LIST with a path is read by many servers as options and patterns ("dir with spaces"
    // lists nothing): change into the directory and list it without an argument.
    if (!path.isEmpty() && !isCompletion(control_.exchange(QStringLiteral("CWD"), path)))
        return std::nullopt;
    // MLSD gives exact sizes, types and UTC times; some servers announce it and then refuse
    // it, and LIST serves them for the rest of the session.
    if (features_.mlsd && !mlsdFailed_) {
        int refusal = 0;
        auto listed = listing(QStringLiteral("MLSD"), QString(), path, &refusal);
        if (listed)
            return std::move(listed->entries);
        if (refusal < 400 || !control_.isConnected())
            return std::nullopt;
        mlsdFailed_ = true;
        zlog("MLSD refuse : on utilise LIST pour cette session");
    }
    auto listed = listing(QStringLiteral("LIST"), QString(), path);
    if (!listed)
        return std::nullopt;
    return std::move(listed->entries);
}

qint64 DirectoryListing::size(const QString &path)
{
    if (!control_.isConnected())
        return -1;
    if (features_.size) {
        // SIZE counts bytes as they would be transferred: in binary mode, the file's own.
        control_.exchange(QStringLiteral("TYPE"), QStringLiteral("I"));
        QString reply;
        if (control_.query(QStringLiteral("SIZE"), path, &reply) == 213) {
            if (const auto exact = sizeInReply(reply))
                return *exact;
        }
    }
    // A file cannot be changed into: it is named on the LIST line itself.
    zlog("On entre dans list()");
    const auto exitLog = qScopeGuard([] { zlog("Sortie de la fonction list()"); });
    // One line, naming the file: a directory's listing has a line per entry and may have
    // a summary line besides.
    const auto listed = listing(QStringLiteral("LIST"), path, path);
    if (!listed || listed->lines != 1 || listed->entries.size() != 1)
        return -1;
    return listed->entries.first().size();
}

std::optional<DirectoryListing::Entries> DirectoryListing::listing(const QString &verb, const QString &argument, const QString &path,
                                                 int *refusal)
{
    DataChannel::Opened opened = data_.openDataCommand({verb, argument, QStringLiteral("A")});
    const int code = opened.code;
    if (!opened.data) {
        if (refusal && opened.stoppedAt == DataChannel::Stop::Command)
            *refusal = code;
        return std::nullopt;
    }
    // The data connection serves this listing only: it is closed on every way out, and as
    // soon as the listing has been read, before the completion reply. Some servers send
    // that reply only once the client has closed (proftpd lingers ~10 s otherwise).
    const std::shared_ptr<Socket> data = std::move(opened.data);
    const auto release = [this, &data] { data_.release(data, DataChannel::End::Close); };
    const auto dropData = qScopeGuard(release);
    if (code < 100 || code >= 300) {
        if (refusal)
            *refusal = code;
        return std::nullopt; // nothing will come on the data connection
    }

    auto listing = readListing(*data, path);
    if (!listing) {
        // A broken data connection is answered on the control connection (a 426, or a 226
        // for a cut TLS stream, which the server takes as complete): that reply is read
        // here, so it is not taken for the next command's. A time-out or a limit passed
        // has closed the session already.
        if (code < 200 && control_.isConnected()) {
            release();
            control_.ret();
        }
        return std::nullopt;
    }
    release();
    // A 1xx reply announced the transfer; its completion follows. A 2xx was already it.
    if (code < 200 && !isCompletion(control_.ret()))
        return std::nullopt;

    const qsizetype nul = listing->indexOf('\0');
    if (nul >= 0)
        listing->truncate(nul);
    zlog("Buf NLST : %@", PeerBytes{*listing});
    Entries listed = entriesOf(*listing, verb == QLatin1String("MLSD"), settings_.limits);
    if (listed.cut)
        zlog("Listing de %@ coupe : %i entrees gardees, les suivantes sont ignorees", path, listed.entries.size());
    return listed;
}

DirectoryListing::Entries DirectoryListing::entriesOf(const QByteArray &listing, bool machine, const EngineLimits &limits)
{
    Entries listed;
    const qint64 mostBytes = 2 * limits.listingBytes;
    // Room for the lines that may name something, within the limits: a directory of
    // 100 000 entries grows the list once, and megabytes of blank lines take none.
    qsizetype mayName = 0;
    for (qsizetype start = 0; start < listing.size(); ++listed.lines) {
        qsizetype end = listing.indexOf('\n', start);
        if (end < 0)
            end = listing.size();
        mayName += end - start >= kShortestNamingLine ? 1 : 0;
        start = end + 1;
    }
    listed.entries.reserve(qsizetype(std::min({qint64(mayName), limits.listingEntries, mostBytes / entryBytes(0)})));

    qint64 bytes = 0;
    // False, and the listing cut, when `nameLength` more would pass a limit.
    const auto roomFor = [&](qsizetype nameLength) {
        bytes += entryBytes(nameLength);
        listed.cut = listed.entries.size() >= limits.listingEntries || bytes > mostBytes;
        return !listed.cut;
    };
    qsizetype start = 0;
    while (start < listing.size()) {
        qsizetype end = listing.indexOf('\n', start);
        // A last line without LF is still a line: dropping it would hide a file.
        const qsizetype next = end < 0 ? listing.size() : end + 1;
        if (end < 0)
            end = listing.size();
        qsizetype length = end - start;
        if (length > 0 && listing.at(start + length - 1) == '\r')
            --length;
        const QByteArrayView line = QByteArrayView(listing).sliced(start, length);
        start = next;
        if (machine) {
            const auto fact = parseMlsdLine(line);
            using Kind = MachineListEntry::Kind;
            // The directory itself and its parent are not entries of it.
            if (!fact || fact->kind == Kind::CurrentDirectory || fact->kind == Kind::ParentDirectory)
                continue;
            if (!roomFor(fact->name.size()))
                break;
            const qint32 type = fact->kind == Kind::Directory ? 1 : (fact->kind == Kind::Link ? 2 : 0);
            File entry(fact->name, qMax<qint64>(fact->size, 0), type);
            entry.setModified(fact->modified);
            listed.entries.append(std::move(entry));
            continue;
        }
        ParsedListLine parsed;
        ftpparse(&parsed, line.data(), int(qMin<qsizetype>(length, INT_MAX)));
        // A line that names nothing ("total 3", a blank line, a header) opens nothing.
        if (!parsed.name || parsed.nameLength <= 0)
            continue;
        // The name keeps the server's exact bytes, so a command about it names this entry.
        const QString name = nameFromBytes(QByteArrayView(parsed.name, parsed.nameLength));
        if (!roomFor(name.size()))
            break;
        const qint32 type = !parsed.canEnter ? 0 : (parsed.canRetrieve ? 2 : 1);
        const QString link = parsed.linkTarget && parsed.linkTargetLength > 0
            ? nameFromBytes(QByteArrayView(parsed.linkTarget, parsed.linkTargetLength))
            : QString();
        File entry(name, parsed.size, type, link);
        if (parsed.permissions && parsed.permissionsLength >= 10)
            entry.setPermissions(QString::fromLatin1(parsed.permissions, parsed.permissionsLength));
        if (parsed.timeKind != 0)
            entry.setModified(parsed.modTime);
        entry.print();
        listed.entries.append(std::move(entry));
    }
    // Room made for lines that named nothing after all is given back.
    if (listed.entries.capacity() > 2 * listed.entries.size() + 1024)
        listed.entries.squeeze();
    return listed;
}

std::optional<QByteArray> DirectoryListing::readListing(Socket &data, const QString &path)
{
    const int idleMs = settings_.timeouts.dataIdle;
    const qint64 maxBytes = settings_.limits.listingBytes;
    constexpr qsizetype kChunk = 65536;
    QByteArray listing;
    // Read straight into the listing's own room, which doubles as it fills (never much past
    // the limit): a listing of several megabytes is neither copied chunk by chunk nor moved
    // at every growth.
    for (;;) {
        const qsizetype filled = listing.size();
        if (listing.capacity() - filled < kChunk)
            listing.reserve(std::max(qsizetype(std::min<qint64>(2 * listing.capacity(), maxBytes + kChunk)),
                                     filled + kChunk));
        listing.resize(filled + kChunk);
        const qint64 n = data.readSome(listing.data() + filled, kChunk, idleMs);
        listing.resize(filled + qsizetype(std::max<qint64>(n, 0)));
        if (n == 0)
            return listing;
        if (n > 0) {
            if (listing.size() > maxBytes) {
                control_.closeBecause(QStringLiteral("Listing trop long dans list : on ferme la connexion"));
                return std::nullopt;
            }
            continue;
        }
        if (n == Socket::TimedOut) {
            control_.closeAfterTimeout("list");
            return std::nullopt;
        }
        if (n == Socket::Truncated)
            zlog("Listing de %@ coupe : flux TLS ferme sans close_notify", path);
        zlog("Exception recue dans list: %@ ", path);
        return std::nullopt;
    }
}

} // namespace zodaru
