// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/EngineSettings.h"
#include "ftp/ProtocolReplies.h"
#include "model/File.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace zodaru {

class ControlChannel;
class DataChannel;
class Socket;

// Directory listings of an engine: MLSD when offered (LIST from its first refusal on),
// the data read whole within the listing limits, then made into entries within the
// entry limits. Used by the engine's current thread only.
class DirectoryListing final {
public:
    DirectoryListing(ControlChannel &control, DataChannel &data, const EngineSettings &settings,
            const ServerFeatures &features);
    Q_DISABLE_COPY_MOVE(DirectoryListing)

    // One listing's entries: a line that names nothing (a blank line, "total 3", ".")
    // makes none, but is counted among the lines.
    struct Entries {
        QList<File> entries;
        qsizetype lines = 0;
        bool cut = false; // the limits stopped it: `entries` holds the first ones
    };

    // Changes into `path` (CWD) and lists it without an argument.
    std::optional<QList<File>> list(const QString &path);
    // The size of a remote file: SIZE when offered, else a listing of `path` itself,
    // which names one file. -1 when unknown.
    qint64 size(const QString &path);
    // `verb` (LIST or MLSD) with `argument` (none when empty): the data connection, the
    // data, then the completion. `path` names the listed directory in the log. `refusal`
    // receives the reply code when the server refused the listing command.
    std::optional<Entries> listing(const QString &verb, const QString &argument, const QString &path,
                                   int *refusal = nullptr);
    // Turns one listing (LIST or MLSD) into entries, within `limits`.
    static Entries entriesOf(const QByteArray &listing, bool machine, const EngineLimits &limits);

private:
    // Reads the listing's data to its end within the listing limit; absent on failure.
    std::optional<QByteArray> readListing(Socket &data, const QString &path);

    ControlChannel &control_;
    DataChannel &data_;
    const EngineSettings &settings_;
    const ServerFeatures &features_;
    bool mlsdFailed_ = false;
};

} // namespace zodaru
