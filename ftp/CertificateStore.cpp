// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/CertificateStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>

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

// One line per server: "<host:port> <fingerprint in hex>", split at the last space so
// that the colons of an IPv6 key need no quoting.
CertificateStore::CertificateStore(const QString &filePath) : path_(filePath)
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const qsizetype space = line.lastIndexOf(' ');
        if (space <= 0)
            continue;
        const QByteArray digest = QByteArray::fromHex(line.mid(space + 1));
        if (digest.size() == 32)
            always_.insert(QString::fromUtf8(line.left(space)), digest);
    }
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
    return save(error);
}

bool CertificateStore::save(QString *error) const
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("impossible de creer %1").arg(dir));
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // Private before the first byte goes in, whatever the umask.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0)
        return fail(QStringLiteral("impossible de proteger %1").arg(path_));
    for (auto it = always_.constBegin(); it != always_.constEnd(); ++it)
        file.write(it.key().toUtf8() + ' ' + it.value().toHex() + '\n');
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace zodaru
