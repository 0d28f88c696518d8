// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace zodaru {

// The transfer entries of one site kept from one run of the program to the next. The site
// is the server as typed and the login, never the password.
struct SavedSite {
    QString server;
    QString login;
    QList<File> downloads;
    QList<File> uploads;

    // The key the transfers name a site by: server text, LF, login.
    QString key() const { return server + QLatin1Char('\n') + login; }
    static SavedSite fromKey(const QString &key, QList<File> downloads = {}, QList<File> uploads = {});
    // File entries (folder rows not counted).
    int files() const;
    bool isEmpty() const { return downloads.isEmpty() && uploads.isEmpty(); }
};

// The saved transfer queues as bytes and back: a versioned JSON document. Pure: no file is
// read or written here. Each entry keeps its names and directories (their exact bytes, even
// when they are not UTF-8), its id and folder group, sizes, date, state and the answer
// about an existing target; progress is not kept. Any thread.
//
//   {"format": "zodaru-transfer-queue", "version": 1,
//    "sites": [{"server": "ftp://host", "login": "me",
//               "downloads": [{"id": 3, "name": "a.txt", "local": "/home/me",
//                              "remote": "/pub", "size": 5, "state": "waiting"}],
//               "uploads": []}]}
//
// A name that is not UTF-8 is written as {"bytes": "<base64>"} instead of a string.
namespace QueueFile {

inline constexpr int kVersion = 1;

// What an entry was doing, as stored.
enum class EntryState { Waiting, Running, Failed, Cancelled, Done, Skipped };
EntryState stateOf(const File &entry);
// Puts `entry`, waiting, in `state` (Running: current, as it was when written).
void setState(File &entry, EntryState state);

QByteArray encoded(const QList<SavedSite> &sites);
// Nothing when the bytes are not such a document (not JSON, another format, a later
// version, a field of the wrong kind).
std::optional<QList<SavedSite>> decoded(QByteArrayView bytes);

} // namespace QueueFile

} // namespace zodaru
