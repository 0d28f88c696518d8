// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RemoteTreeWalk.h"

#include "base/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QPointer>

#include <algorithm>

namespace zodaru {

RemoteTreeWalk::RemoteTreeWalk(Target target, List list, const QString &remoteDirectory, const QString &name,
                               const QString &localDirectory, std::function<void(FolderWalk *)> ended)
    : FolderWalk(std::move(target), name, localDirectory, remoteDirectory, std::move(ended)), list_(std::move(list))
{
}

QByteArray RemoteTreeWalk::signatureOf(const QList<File> &entries)
{
    QStringList lines;
    lines.reserve(entries.size());
    for (const File &entry : entries)
        lines << QStringLiteral("%1 %2 %3 %4")
                     .arg(entry.type())
                     .arg(entry.size())
                     .arg(entry.modified())
                     .arg(entry.name());
    // Listings of one directory may come in another order.
    lines.sort();
    return QCryptographicHash::hash(lines.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha256);
}

QString RemoteTreeWalk::targetPath(const QString &directory, const QString &linkTarget)
{
    if (linkTarget.isEmpty())
        return QString();
    const QString path = linkTarget.startsWith(QLatin1Char('/')) ? linkTarget : joinedPath(directory, linkTarget);
    return QDir::cleanPath(path);
}

void RemoteTreeWalk::walk()
{
    stack_.append(Pending{});
    next();
}

void RemoteTreeWalk::next()
{
    flush();
    if (stack_.isEmpty()) {
        finish();
        return;
    }
    const Pending pending = stack_.takeLast();
    if (pending.link) {
        // Listed first: only a link that lists as a directory is made one.
        list(pending);
        return;
    }
    // Made before it is listed, so that an empty directory is made too.
    makeDirectory(pending.relative, [this, pending] { list(pending); });
}

void RemoteTreeWalk::makeDirectory(const QString &relative, std::function<void()> made)
{
    maker_.run([path = localPathOf(relative)] { return makeLocalDirectory(path); }, this,
               [this, relative, made = std::move(made)](bool done) {
                   if (!done) {
                       failDirectory(relative);
                       next();
                       return;
                   }
                   countDirectory();
                   made();
               });
}

void RemoteTreeWalk::list(const Pending &pending)
{
    // A late answer for a walk given up (its session ended) is dropped.
    const QPointer<RemoteTreeWalk> walk(this);
    list_(remotePathOf(pending.relative), [walk, pending](const std::optional<QList<File>> &entries) {
        if (walk)
            walk->listed(pending, entries);
    });
}

void RemoteTreeWalk::listed(const Pending &pending, const std::optional<QList<File>> &entries)
{
    const QString shown = shownPathOf(pending.relative);
    if (!entries && pending.link) {
        // Does not list as a directory: the file it leads to is got.
        zlog("Lien %@ : pas un dossier, transfere comme un fichier", shown);
        queueFile(*pending.link, pending.relative.section(QLatin1Char('/'), 0, -2));
    } else if (!entries) {
        zlog("Liste de %@ impossible : ses fichiers ne sont pas transferes", shown);
        failDirectory(pending.relative);
    } else if (pending.link) {
        const QByteArray signature = signatureOf(*entries);
        if (!skippedLink(pending, signature)) {
            makeDirectory(pending.relative, [this, pending, entries = *entries, signature] {
                zlog("Lien %@ suivi comme un dossier", shownPathOf(pending.relative));
                takeEntries(pending, entries, signature);
                next();
            });
            return;
        }
    } else {
        takeEntries(pending, *entries, signatureOf(*entries));
    }
    next();
}

bool RemoteTreeWalk::skippedLink(const Pending &pending, const QByteArray &signature) const
{
    const QString shown = shownPathOf(pending.relative);
    const bool loops = std::any_of(pending.chain.begin(), pending.chain.end(),
                                   [&](const Above &above) { return above.signature == signature; });
    if (loops) {
        zlog("Lien %@ ignore : il mene a un dossier deja parcouru", shown);
        return true;
    }
    if (pending.links > maxLinkDepth) {
        zlog("Lien %@ ignore : plus de %i liens suivis a la suite", shown, maxLinkDepth);
        return true;
    }
    return false;
}

void RemoteTreeWalk::takeEntries(const Pending &pending, const QList<File> &entries, const QByteArray &signature)
{
    QList<Above> chain = pending.chain;
    chain.append(Above{remotePathOf(pending.relative), signature});
    QList<Pending> below;
    for (const File &entry : entries) {
        const QString relative = pending.relative.isEmpty() ? entry.name()
                                                            : pending.relative + QLatin1Char('/') + entry.name();
        // A name that is not one plain component would reach outside the folder.
        if (!isPlainName(entry.name())) {
            zlog("Nom refuse dans %@ : <%@>", shownPathOf(pending.relative), entry.name());
            continue;
        }
        if (entry.isDir()) {
            below.append(Pending{relative, chain, pending.links, std::nullopt});
        } else if (entry.isLink()) {
            // A listing that names the target (LIST's "name -> target") tells a link back
            // into the chain without listing it.
            const QString target = targetPath(remotePathOf(pending.relative), entry.link());
            if (!target.isEmpty() && std::any_of(chain.begin(), chain.end(), [&](const Above &above) {
                    return QDir::cleanPath(above.path) == target;
                })) {
                zlog("Lien %@ ignore : il mene a un dossier deja parcouru", shownPathOf(relative));
                continue;
            }
            below.append(Pending{relative, chain, pending.links + 1, entry});
        } else {
            queueFile(entry, pending.relative);
        }
    }
    // Taken from the end: the first directory listed is walked first.
    std::reverse(below.begin(), below.end());
    stack_.append(below);
}

} // namespace zodaru
