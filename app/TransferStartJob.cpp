// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TransferStartJob.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/FTP.h"
#include "ftp/PartFile.h"
#include "model/Trash.h"

#include <optional>
#include <utility>

#include <sys/stat.h>

namespace zodaru {

namespace {

// A local file as lstat (or stat, following a link) sees it.
struct LocalEntry {
    qint64 size = 0;
    qint64 modified = -1;
    bool regular = false;
    bool directory = false;
};

std::optional<LocalEntry> localEntry(const QString &path, bool followLinks)
{
    struct stat st{};
    const QByteArray bytes = bytesOfName(path);
    if ((followLinks ? ::stat(bytes.constData(), &st) : ::lstat(bytes.constData(), &st)) != 0)
        return std::nullopt;
    return LocalEntry{qint64(st.st_size), qint64(st.st_mtime), S_ISREG(st.st_mode), S_ISDIR(st.st_mode)};
}

// `path` split at its last slash: the directory with that slash, and the name.
std::pair<QString, QString> splitPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return {path.left(slash + 1), path.mid(slash + 1)};
}

// A free name beside the local file `path`, as a whole path; empty when none was found.
QString freeLocalPath(const QString &path)
{
    const auto [directory, name] = splitPath(path);
    const QString free = freeName(name, [&directory](const QString &candidate) {
        return localEntry(directory + candidate, false).has_value()
            || localEntry(nameFromBytes(partPath(directory + candidate)), false).has_value();
    });
    return free.isEmpty() ? QString() : directory + free;
}

// A free name beside the remote file `path`, from a listing of its directory.
QString freeRemotePath(FTP &ftp, const QString &path)
{
    const auto [directory, name] = splitPath(path);
    const auto listed = ftp.list(directory.isEmpty() ? QStringLiteral("/") : directory);
    if (!listed)
        return QString();
    QStringList names;
    for (const File &entry : *listed)
        names << entry.name();
    const QString free = freeName(name, [&names](const QString &candidate) { return names.contains(candidate); });
    return free.isEmpty() ? QString() : directory + free;
}

TargetFacts factsOf(const LocalEntry &local, const RemoteFacts &remote, bool localIsTarget)
{
    TargetFacts facts;
    const qint64 remoteSize = remote.size.value_or(-1);
    const qint64 remoteModified = remote.modified.value_or(-1);
    facts.targetSize = localIsTarget ? local.size : remoteSize;
    facts.targetModified = localIsTarget ? local.modified : remoteModified;
    facts.sourceSize = localIsTarget ? remoteSize : local.size;
    facts.sourceModified = localIsTarget ? remoteModified : local.modified;
    return facts;
}

// What the start does with an existing `target`, logged.
ConflictAction decide(const QString &target, ConflictAnswer answer, const TargetFacts &facts)
{
    const ConflictAction action = actionFor(answer, facts);
    zlog("Fichier existant %@ : %@", target, answerWord(answer));
    if (answer != ConflictAnswer::Ask && action == ConflictAction::Skip)
        zlog("Fichier existant %@ laisse tel quel", target);
    return action;
}

TransferStart startDownload(FTP &ftp, const TransferStartJob::Request &request)
{
    TransferStart result;
    QString local = request.local;
    // Only a directory is no target: the partial file could never replace it.
    if (const auto target = localEntry(local, false); target && !target->directory) {
        const auto source = ftp.fileFacts(request.remote);
        if (!ftp.isConnected())
            return result;
        // A file the server does not tell of is still asked about: its RETR may work.
        const RemoteFacts remote = source.value_or(RemoteFacts{});
        TargetFacts facts = factsOf(*target, remote, true);
        facts.canResume = target->regular && ftp.features().restStream && remote.size && remote.modified
            && target->size < *remote.size;
        facts.hasTrash = Trash::isAvailableFor(local);
        QString error;
        switch (decide(local, request.answer, facts)) {
        case ConflictAction::Ask:
            result.conflict = facts;
            return result;
        case ConflictAction::Skip:
            result.skipped = true;
            return result;
        case ConflictAction::Replace:
            if (!facts.hasTrash) {
                zlog("Pas de corbeille pour %@ : il sera remplace", local);
            } else if (!Trash::moveToTrash(local, error)) {
                // Replaced only once it is safe in the Trash.
                zlog("Fichier %@ non mis a la corbeille ==> %@", local, error);
                return result;
            } else {
                zlog("Fichier %@ mis a la corbeille", local);
            }
            break;
        case ConflictAction::Resume:
            if (!continueAsPart(local, ftp.partOrigin(request.remote, remote), error)) {
                zlog("Fichier %@ non repris ==> %@", local, error);
                return result;
            }
            break;
        case ConflictAction::Rename:
            local = freeLocalPath(local);
            if (local.isEmpty()) {
                zlog("Pas de nom libre a cote de %@", request.local);
                return result;
            }
            zlog("Fichier %@ enregistre sous %@", request.remote, local);
            break;
        }
    }
    result.code = ftp.get(request.remote, local, request.id);
    result.resumedAt = ftp.resumeOffset();
    return result;
}

TransferStart startUpload(FTP &ftp, const TransferStartJob::Request &request)
{
    TransferStart result;
    QString remote = request.remote;
    qint64 from = 0;
    // A source that is not a regular file is not asked about: its upload fails before any
    // command goes out.
    const auto source = localEntry(request.local, true);
    std::optional<RemoteFacts> target;
    if (source && source->regular)
        target = ftp.fileFacts(remote);
    if (!ftp.isConnected())
        return result;
    if (target) {
        TargetFacts facts = factsOf(*source, *target, false);
        // Continued only when the remote file can be the beginning of this one.
        facts.canResume = ftp.features().restStream && facts.targetSize >= 0 && facts.targetSize < facts.sourceSize;
        switch (decide(remote, request.answer, facts)) {
        case ConflictAction::Ask:
            result.conflict = facts;
            return result;
        case ConflictAction::Skip:
            result.skipped = true;
            return result;
        case ConflictAction::Replace:
            break;
        case ConflictAction::Resume:
            from = facts.targetSize;
            break;
        case ConflictAction::Rename:
            remote = freeRemotePath(ftp, remote);
            if (remote.isEmpty()) {
                zlog("Pas de nom libre a cote de %@", request.remote);
                return result;
            }
            zlog("Fichier %@ envoye sous %@", request.local, remote);
            break;
        }
    }
    result.code = ftp.put(request.local, remote, request.id, from);
    result.size = ftp.uploadSize();
    result.resumedAt = ftp.resumeOffset();
    return result;
}

} // namespace

TransferStartJob::TransferStartJob(std::shared_ptr<FTP> ftp, std::shared_ptr<FTP> replacement,
                                   Session::Credentials login, Request request)
    : ftp_(std::move(ftp)), replacement_(std::move(replacement)), login_(std::move(login)),
      request_(std::move(request))
{
}

StartResult TransferStartJob::operator()() const
{
    StartResult result;
    std::shared_ptr<FTP> use = ftp_;
    if (!use->isConnected()) {
        // A lost connection: the engine logs in again once, like the session's.
        const bool download = request_.direction == TransferDirection::Download;
        try {
            result.failed = replacement_;
            FTP::connectInto(replacement_, login_.server, login_.login, login_.password, login_.policy);
            result.fresh = std::exchange(result.failed, nullptr);
        } catch (const NetworkException &e) {
            zlog("Exception recue dans %@ ==> %@", download ? "downloadFiles" : "uploadFiles", e.reason());
            return result;
        }
        use = result.fresh;
        if (!use->isConnected())
            return result;
    }
    result.start = start(*use, request_);
    return result;
}

TransferStart TransferStartJob::start(FTP &ftp, const Request &request)
{
    return request.direction == TransferDirection::Download ? startDownload(ftp, request)
                                                            : startUpload(ftp, request);
}

} // namespace zodaru
