// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EntryDrag.h"

#include "base/ByteNames.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>

#include <sys/stat.h>
#include <unistd.h>

namespace zodaru {

namespace {

// Changes whenever the layout below does: data of another layout is not read.
constexpr quint32 kLayout = 0x5a440001;

// Which process made the data: a browser's origin means something only in its own.
qint64 thisProcess()
{
    return QCoreApplication::applicationPid();
}

struct Header {
    qint64 process = 0;
    quint64 origin = 0;
};

std::optional<Header> readHeader(QDataStream &in)
{
    quint32 layout = 0;
    Header h;
    in >> layout >> h.process >> h.origin;
    if (in.status() != QDataStream::Ok || layout != kLayout || h.process != thisProcess())
        return std::nullopt;
    return h;
}

// The exact bytes of an absolute path, percent-encoded where a URL needs it.
QString encodedPath(const QString &path)
{
    return QString::fromLatin1(bytesOfName(path).toPercentEncoding("/"));
}

} // namespace

std::unique_ptr<QMimeData> encodeEntryDrag(const EntryDrag &drag, const QList<QUrl> &urls)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << kLayout << thisProcess() << drag.origin << drag.directory << quint32(drag.entries.size());
        for (const File &entry : drag.entries)
            out << entry.name() << entry.size() << entry.type();
    }
    auto data = std::make_unique<QMimeData>();
    if (!urls.isEmpty())
        data->setUrls(urls);
    data->setData(QString::fromLatin1(kEntryDragMimeType), bytes);
    return data;
}

std::optional<EntryDrag> decodeEntryDrag(const QMimeData &data)
{
    const QByteArray bytes = data.data(QString::fromLatin1(kEntryDragMimeType));
    if (bytes.isEmpty())
        return std::nullopt;
    QDataStream in(bytes);
    const std::optional<Header> header = readHeader(in);
    if (!header)
        return std::nullopt;
    EntryDrag drag;
    drag.origin = header->origin;
    quint32 count = 0;
    in >> drag.directory >> count;
    // Each entry takes at least a dozen bytes: a count beyond that is damage, not a drag.
    if (in.status() != QDataStream::Ok || count > quint32(bytes.size()))
        return std::nullopt;
    for (quint32 i = 0; i < count; ++i) {
        QString name;
        qint64 size = 0;
        qint32 type = 0;
        in >> name >> size >> type;
        if (in.status() != QDataStream::Ok)
            return std::nullopt;
        drag.entries.append(File(name, size, type));
    }
    return drag;
}

std::optional<quint64> entryDragOrigin(const QMimeData &data)
{
    const QByteArray bytes = data.data(QString::fromLatin1(kEntryDragMimeType));
    if (bytes.isEmpty())
        return std::nullopt;
    QDataStream in(bytes);
    const std::optional<Header> header = readHeader(in);
    if (!header)
        return std::nullopt;
    return header->origin;
}

QUrl localFileUrl(const QString &path)
{
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    url.setPath(encodedPath(path), QUrl::TolerantMode);
    return url;
}

QUrl remoteFileUrl(const QUrl &site, const QString &path)
{
    if (site.isEmpty())
        return {};
    QUrl url = site;
    url.setPassword(QString());
    url.setPath(encodedPath(path), QUrl::TolerantMode);
    return url;
}

std::optional<QString> localPathOfUrl(const QUrl &url)
{
    if (!url.isValid() || url.scheme() != u"file")
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host != u"localhost")
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.startsWith('/'))
        return std::nullopt;
    return nameFromBytes(bytes);
}

DroppedFiles droppedFilesOf(const QList<QUrl> &urls)
{
    DroppedFiles dropped;
    for (const QUrl &url : urls) {
        const std::optional<QString> path = localPathOfUrl(url);
        if (!path) {
            ++dropped.notLocal;
            continue;
        }
        QString clean = *path;
        while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
            clean.chop(1); // a directory's URL may end with a slash
        const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
        const QString name = clean.mid(slash + 1);
        const QString directory = slash == 0 ? QStringLiteral("/") : clean.left(slash);
        const QByteArray bytes = bytesOfName(clean);
        struct stat st {};
        if (name.isEmpty() || ::lstat(bytes.constData(), &st) != 0) {
            ++dropped.missing;
            continue;
        }
        File entry;
        if (S_ISLNK(st.st_mode)) {
            QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : 4096), '\0');
            const ssize_t got = ::readlink(bytes.constData(), target.data(), size_t(target.size()));
            entry = File(name, 0, 2, nameFromBytes(target.left(got > 0 ? qsizetype(got) : 0)));
        } else if (S_ISDIR(st.st_mode)) {
            entry = File(name, 0, 1);
        } else {
            entry = File(name, qint64(st.st_size), 0);
        }
        auto group = std::find_if(dropped.groups.begin(), dropped.groups.end(),
                                  [&](const DroppedGroup &g) { return g.directory == directory; });
        if (group == dropped.groups.end()) {
            dropped.groups.append({directory, {}});
            group = dropped.groups.end() - 1;
        }
        group->entries.append(entry);
    }
    return dropped;
}

} // namespace zodaru
