// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/CertificateStore.h"

#include <mutex>

namespace zodaru {

// The user's certificate store shared between the main thread, where the user's choices go
// in, and the engines' threads, where each TLS connection asks about its certificate.
// The file is written outside the lock from a second copy that only the main thread
// touches, so that a connecting engine never waits on the disk.
class TrustedCertificates final {
public:
    explicit TrustedCertificates(const QString &filePath) : store_(filePath), file_(filePath) {}
    Q_DISABLE_COPY_MOVE(TrustedCertificates)

    CertificateVerdict verdict(const QString &server, const TlsPeer &peer) const
    {
        std::lock_guard lock(mutex_);
        return store_.verdict(server, peer);
    }
    void trustOnce(const QString &server, const QByteArray &sha256)
    {
        std::lock_guard lock(mutex_);
        store_.trustOnce(server, sha256);
    }
    // Main thread only. The trust holds at once, even when the file cannot be written.
    bool trustAlways(const QString &server, const QByteArray &sha256, QString *error)
    {
        trustOnce(server, sha256);
        return file_.trustAlways(server, sha256, error);
    }
    // The fingerprint trusted for `server` before, if any.
    std::optional<QByteArray> trustedFingerprint(const QString &server) const
    {
        std::lock_guard lock(mutex_);
        return store_.trustedFingerprint(server);
    }

    // Servers the user lets log in in clear when they refuse TLS. Main thread only.
    bool clearAllowed(const QString &server) const { return file_.clearAllowed(server); }
    bool allowClearAlways(const QString &server, QString *error) { return file_.allowClearAlways(server, error); }

private:
    mutable std::mutex mutex_;
    CertificateStore store_; // under mutex_
    CertificateStore file_;
};

} // namespace zodaru
