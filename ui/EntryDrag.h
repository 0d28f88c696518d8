// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QMimeData;

namespace zodaru {

// Entries dragged out of a column browser, as they travel in a drag's MIME data. The
// names are exact (base/ByteNames.h); a directory is a File with isDir().
struct EntryDrag {
    quint64 origin = 0; // the browser they come from (ColumnBrowser::dragOrigin())
    QString directory;  // the directory holding them, as that browser's path
    QList<File> entries;
};

// The MIME type of an EntryDrag; only this process reads it (see decodeEntryDrag).
inline constexpr char kEntryDragMimeType[] = "application/x-zodaru-entries";

// New MIME data holding `drag` and, for other programs (a file manager), `urls` as
// text/uri-list. The caller owns it (a QDrag takes it over).
std::unique_ptr<QMimeData> encodeEntryDrag(const EntryDrag &drag, const QList<QUrl> &urls);
// The entries of a drag started by this process; nothing when the data holds none, is
// damaged, or was made by another process (another copy of the program, whose browsers'
// origins mean nothing here: its text/uri-list is what counts then).
std::optional<EntryDrag> decodeEntryDrag(const QMimeData &data);
// Only the origin, read without the entries: asked on every move of a drag.
std::optional<quint64> entryDragOrigin(const QMimeData &data);

// "file:///..." naming the exact bytes of a local absolute path.
QUrl localFileUrl(const QString &path);
// `site` ("ftp://user@host:port", never with a password) with the exact bytes of a remote
// absolute path; an empty URL when `site` is empty.
QUrl remoteFileUrl(const QUrl &site, const QString &path);
// The local path a file:// URL names (no host, or "localhost"), exact bytes; nothing for any
// other URL.
std::optional<QString> localPathOfUrl(const QUrl &url);

// Local entries dropped from another program, by the directory that holds them.
struct DroppedGroup {
    QString directory;
    QList<File> entries;
};
struct DroppedFiles {
    QList<DroppedGroup> groups; // in the order their directories first came
    int notLocal = 0;           // URLs that are not file:// ones (ignored)
    int missing = 0;            // file:// URLs naming nothing (or the root) on the disk
};
// Reads each path with lstat: a directory is isDir(), a symbolic link stays a link (type 2,
// its target in link()) whatever it points to, anything else is a file with its size.
DroppedFiles droppedFilesOf(const QList<QUrl> &urls);

} // namespace zodaru
