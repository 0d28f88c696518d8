// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace zodaru {

// A D-Bus session bus of the test's own, with no services to start on demand, and on it,
// when asked, a real gnome-keyring-daemon whose keyring (unlocked, in a temporary home)
// holds what the test stores. The user's own bus and keyring are never reached: the bus's
// address replaces DBUS_SESSION_BUS_ADDRESS for this process, which must happen before the
// process first talks to a session bus (call start() first thing in initTestCase).
class PrivateKeyring final {
public:
    PrivateKeyring();
    ~PrivateKeyring(); // stops the daemons it started
    Q_DISABLE_COPY_MOVE(PrivateKeyring)

    bool startBus();
    bool startKeyring();
    void stopKeyring();
    // Whether a Secret Service owns its name on the bus now.
    static bool keyringRunning();
    QString errorText() const { return error_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> bus_;
    std::unique_ptr<QProcess> keyring_;
    QString error_;
};

} // namespace zodaru
