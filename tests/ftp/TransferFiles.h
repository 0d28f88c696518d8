// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Local files around the transfer tests: what a download left behind, names as exact bytes,
// and short limits for the tests that wait for one.
#include "base/ByteNames.h"
#include "ftp/FTP.h"

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace zodaru::testing {

inline const QByteArray kOldContent = "the file the user already had\n";

// Files in `dir` that a download may have left behind.
inline QStringList leftovers(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

// The exact byte names in `dir`: QDir would decode those that are not UTF-8.
inline QList<QByteArray> byteNamesIn(const QString &dir)
{
    QList<QByteArray> names;
    const auto closer = [](DIR *d) { ::closedir(d); };
    const std::unique_ptr<DIR, decltype(closer)> d(::opendir(bytesOfName(dir).constData()), closer);
    while (const dirent *e = d ? ::readdir(d.get()) : nullptr) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    return names;
}

// Creates `dir`/`leaf` with the exact bytes of `leaf`; returns its path in the lossless form.
inline QString createNamed(const QString &dir, const QByteArray &leaf, const QByteArray &content)
{
    const QString path = dir + QLatin1Char('/') + nameFromBytes(leaf);
    const int fd = ::open(bytesOfName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
    if (fd >= 0)
        ::close(fd);
    return written ? path : QString();
}

// Settings for an engine of a test that waits for one of its limits.
inline FTP::Settings shortTimeouts(int dataIdleMs, int replyLineMs)
{
    FTP::Settings settings = FTP::defaultSettings();
    settings.timeouts.dataIdle = dataIdleMs;
    settings.timeouts.replyLine = replyLineMs;
    return settings;
}

} // namespace zodaru::testing
