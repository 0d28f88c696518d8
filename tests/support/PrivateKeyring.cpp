// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PrivateKeyring.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace zodaru {

namespace {

// A session bus that activates nothing: no service directory, so no call can start a
// keyring daemon (or anything else) with the user's real home.
const QByteArray busConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

void stop(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(5000);
    }
    process.reset();
}

} // namespace

PrivateKeyring::PrivateKeyring() = default;

PrivateKeyring::~PrivateKeyring()
{
    stop(keyring_);
    stop(bus_);
}

bool PrivateKeyring::startBus()
{
    // QtKeychain picks its backend from the desktop's name; none means the Secret Service.
    qunsetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("KDE_SESSION_VERSION");
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) || file.write(busConfig) != busConfig.size()) {
        error_ = QStringLiteral("cannot write %1").arg(config);
        return false;
    }
    file.close();
    bus_ = std::make_unique<QProcess>();
    bus_->setProcessChannelMode(QProcess::SeparateChannels);
    bus_->start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus_->waitForStarted(10000)) {
        error_ = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    QByteArray address;
    const QDeadlineTimer deadline(10000);
    while (!address.contains('\n') && !deadline.hasExpired() && bus_->waitForReadyRead(int(deadline.remainingTime())))
        address += bus_->readAllStandardOutput();
    address = address.trimmed();
    if (address.isEmpty()) {
        error_ = QStringLiteral("dbus-daemon gave no address");
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return QDBusConnection::sessionBus().isConnected();
}

bool PrivateKeyring::startKeyring()
{
    const QString home = dir_.filePath(QStringLiteral("home"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    for (const char *sub : {"/data", "/config", "/run"})
        QDir().mkpath(home + QLatin1String(sub));
    QFile::setPermissions(home + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    keyring_ = std::make_unique<QProcess>();
    keyring_->setProcessEnvironment(env);
    keyring_->start(QStringLiteral("gnome-keyring-daemon"),
                    {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!keyring_->waitForStarted(10000)) {
        error_ = QStringLiteral("gnome-keyring-daemon did not start");
        return false;
    }
    // The login keyring's password, read from standard input: it is created unlocked with it.
    keyring_->write("test");
    keyring_->waitForBytesWritten(5000);
    keyring_->closeWriteChannel();
    const QDeadlineTimer deadline(20000);
    while (!keyringRunning()) {
        if (deadline.hasExpired() || keyring_->state() != QProcess::Running) {
            error_ = QStringLiteral("gnome-keyring-daemon did not take its name: ")
                + QString::fromLocal8Bit(keyring_->readAllStandardError());
            return false;
        }
        // The closing of its standard input is only carried out by the event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

void PrivateKeyring::stopKeyring()
{
    stop(keyring_);
}

bool PrivateKeyring::keyringRunning()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value();
}

} // namespace zodaru
