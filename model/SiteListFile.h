// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace zodaru {

// The bookmark file on disk: a property list whose root is an array of
// [server, login, password] string triples.
//
// Reading accepts the XML property list and the older OpenStep text form
// `( ("server", "login", "password"), ... )`; writing produces the XML form. The file
// holds passwords, so it is written atomically and readable by its owner only.
class SiteListFile final {
public:
    // What reading found. Damaged: the file is there but could not be read whole (unreadable,
    // too large, not a property list, not an array, or elements left out); writing over it
    // would lose what it holds.
    enum class State { Missing, Read, Damaged };

    // Files above this size are not bookmark files; they are ignored rather than read.
    static constexpr qint64 maxFileSize = 1024 * 1024;

    // "~" or a leading "~/" stands for the user's home directory ($HOME).
    static QString resolveHomePath(const QString &path);

    // The entries of the file at `path`; empty when the file is missing, unreadable, too
    // large, not a property list or not an array. Elements that are not three strings are
    // left out.
    static QList<QStringList> read(const QString &path, State *state = nullptr);
    // `complete` turns false when the document is unusable or some element was left out.
    static QList<QStringList> parse(const QByteArray &content, bool *complete = nullptr);

    // Replaces the file at `path` with the entries; false when it could not be written, in
    // which case the old file is left as it was.
    static bool write(const QString &path, const QList<QStringList> &entries);
    // The XML property list of the entries; empty when some text cannot be put in XML.
    static QByteArray toXml(const QList<QStringList> &entries);
};

} // namespace zodaru
