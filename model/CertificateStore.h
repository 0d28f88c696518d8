// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/TlsCertificate.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

namespace zodaru {

// What to do with the certificate a server presented.
enum class CertificateVerdict {
    Verified, // the trust store vouches for it and it names the host: go on
    Known,    // the user trusts this very certificate for this server: go on
    Unknown,  // neither: ask the user (cancel, trust once, always trust)
    Changed,  // the user trusted another certificate for this server: warn, then ask
};

// The decision alone, from whether the certificate verified, the fingerprint the user
// trusts for this server (if any) and the one presented.
CertificateVerdict certificateVerdict(bool verified, const std::optional<QByteArray> &trusted,
                                      const QByteArray &presented);

// The certificates the user chose to trust, per server ("host:port"), by SHA-256
// fingerprint. Those trusted once live in this object only; those always trusted are
// also kept in a file that only the user can read (0600), rewritten atomically.
// Beside it, in the same directory, the servers the user lets log in in clear when they
// refuse TLS ("clear-servers", one "host:port" a line).
// Several windows share the files: each write re-reads a file under its lock file and
// merges, so that what another window saved meanwhile stays.
class CertificateStore final {
public:
    // Reads `filePath` and the list of servers allowed in clear beside it, when they exist.
    explicit CertificateStore(const QString &filePath);

    // The file in the user's configuration directory.
    static QString defaultPath();
    // "host:port", IPv6 addresses in brackets.
    static QString key(const QString &host, int port);

    std::optional<QByteArray> trustedFingerprint(const QString &key) const;
    CertificateVerdict verdict(const QString &key, const TlsPeer &peer) const;

    void trustOnce(const QString &key, const QByteArray &sha256);
    // False, with `error` set, when the file cannot be written (the trust still holds
    // for this object's lifetime).
    bool trustAlways(const QString &key, const QByteArray &sha256, QString *error);

    // Whether the user said to always log in to `key` in clear when it refuses TLS.
    bool clearAllowed(const QString &key) const { return clear_.contains(key); }
    // Remembers it for good; false, with `error` set, when the file cannot be written.
    bool allowClearAlways(const QString &key, QString *error);

    // The file of the servers allowed in clear, beside `filePath`.
    static QString clearServersPath(const QString &filePath);

private:
    QString path_;
    QHash<QString, QByteArray> always_;
    QHash<QString, QByteArray> once_;
    QSet<QString> clear_;
};

} // namespace zodaru
