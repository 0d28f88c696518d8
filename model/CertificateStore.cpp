// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/CertificateStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include <functional>

namespace zodaru {

CertificateVerdict certificateVerdict(bool verified, const std::optional<QByteArray> &trusted,
                                      const QByteArray &presented)
{
    if (verified)
        return CertificateVerdict::Verified;
    if (!trusted)
        return CertificateVerdict::Unknown;
    return *trusted == presented ? CertificateVerdict::Known : CertificateVerdict::Changed;
}

namespace {

// One line per server: "<host:port> <fingerprint in hex>", split at the last space so
// that the colons of an IPv6 key need no quoting.
QHash<QString, QByteArray> parseCertificates(const QByteArray &content)
{
    QHash<QString, QByteArray> entries;
    for (const QByteArray &raw : content.split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype space = line.lastIndexOf(' ');
        if (space <= 0)
            continue;
        const QByteArray digest = QByteArray::fromHex(line.mid(space + 1));
        if (digest.size() == 32)
            entries.insert(QString::fromUtf8(line.left(space)), digest);
    }
    return entries;
}

QByteArray certificatesText(const QHash<QString, QByteArray> &entries)
{
    QStringList keys = entries.keys();
    keys.sort();
    QByteArray text;
    for (const QString &key : keys)
        text += key.toUtf8() + ' ' + entries.value(key).toHex() + '\n';
    return text;
}

// One "host:port" a line.
QSet<QString> parseServers(const QByteArray &content)
{
    QSet<QString> servers;
    for (const QByteArray &raw : content.split('\n'))
        if (const QByteArray line = raw.trimmed(); !line.isEmpty())
            servers.insert(QString::fromUtf8(line));
    return servers;
}

QByteArray serversText(const QSet<QString> &servers)
{
    QStringList keys(servers.cbegin(), servers.cend());
    keys.sort();
    QByteArray text;
    for (const QString &key : keys)
        text += key.toUtf8() + '\n';
    return text;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Rewrites `path` with what `merge` makes of its current content, holding its lock file
// from the read to the rename, so that two windows saving at once each keep what the
// other saved. The file is private before its first byte goes in, whatever the umask.
bool rewriteLocked(const QString &path, const std::function<QByteArray(const QByteArray &)> &merge, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("impossible de creer %1").arg(dir));
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(10000))
        return fail(QStringLiteral("%1 est verrouille par un autre programme").arg(path));
    const QByteArray content = merge(readAll(path));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0)
        return fail(QStringLiteral("impossible de proteger %1").arg(path));
    file.write(content);
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace

CertificateStore::CertificateStore(const QString &filePath)
    : path_(filePath),
      always_(parseCertificates(readAll(filePath))),
      clear_(parseServers(readAll(clearServersPath(filePath))))
{
}

QString CertificateStore::clearServersPath(const QString &filePath)
{
    return QFileInfo(filePath).dir().filePath(QStringLiteral("clear-servers"));
}
QString CertificateStore::defaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("trusted-certificates"));
}

QString CertificateStore::key(const QString &host, int port)
{
    const bool ipv6 = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
    return (ipv6 ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2")).arg(host).arg(port);
}

std::optional<QByteArray> CertificateStore::trustedFingerprint(const QString &key) const
{
    if (const auto once = once_.constFind(key); once != once_.constEnd())
        return *once;
    if (const auto always = always_.constFind(key); always != always_.constEnd())
        return *always;
    return std::nullopt;
}

CertificateVerdict CertificateStore::verdict(const QString &key, const TlsPeer &peer) const
{
    return certificateVerdict(peer.verified, trustedFingerprint(key), peer.certificate.sha256);
}

void CertificateStore::trustOnce(const QString &key, const QByteArray &sha256)
{
    once_.insert(key, sha256);
}

bool CertificateStore::trustAlways(const QString &key, const QByteArray &sha256, QString *error)
{
    once_.remove(key);
    always_.insert(key, sha256);
    return rewriteLocked(
        path_,
        [this, &key, &sha256](const QByteArray &current) {
            // The file as it is now, with what other windows trusted meanwhile.
            always_ = parseCertificates(current);
            always_.insert(key, sha256);
            return certificatesText(always_);
        },
        error);
}

bool CertificateStore::allowClearAlways(const QString &key, QString *error)
{
    clear_.insert(key);
    return rewriteLocked(
        clearServersPath(path_),
        [this](const QByteArray &current) {
            clear_.unite(parseServers(current));
            return serversText(clear_);
        },
        error);
}

} // namespace zodaru
