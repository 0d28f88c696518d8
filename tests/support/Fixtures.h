// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/RealFtpServer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// The set-ups the tests share, each a layer on the one before:
//
//   ScopedEnv            one environment variable, restored at the end
//   TemporaryHome        a fresh directory as HOME and XDG_CONFIG_HOME
//   ServedHome           that, and a real FTP server with a local directory beside it
//   AppHarness           that, and the whole program (support/AppHarness.h)
//
//   WorkingDirectory     a fresh directory as the working directory
//   ControllerFixture    that, and a main window controller on a FakeApp (support/FakeApp.h)
//
// Each is an object a test makes on its stack (or in init()); the destructors put back
// whatever the constructors changed. They nest: one made inside another's life must end
// first, so a fixture kept between cases is reset in cleanup(), not replaced in init().
namespace zodaru::test {

// Sets an environment variable for the object's life; the old value (or its absence)
// comes back after.
class ScopedEnv final {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : name_(name)
        , saved_(qgetenv(name))
        , wasSet_(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (wasSet_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }
    Q_DISABLE_COPY_MOVE(ScopedEnv)

private:
    const char *name_;
    QByteArray saved_;
    bool wasSet_;
};

// A private home: no saved sites, settings or trusted certificates unless a test puts some
// there. With Scope::ConfigOnly only XDG_CONFIG_HOME moves (the View menu's settings,
// say), HOME stays.
class TemporaryHome {
public:
    enum class Scope { HomeAndConfig, ConfigOnly };
    explicit TemporaryHome(Scope scope = Scope::HomeAndConfig)
    {
        if (scope == Scope::HomeAndConfig)
            homeVar_.emplace("HOME", QFile::encodeName(dir_.path()));
        configVar_.emplace("XDG_CONFIG_HOME", QFile::encodeName(configDir()));
    }
    virtual ~TemporaryHome() = default;
    Q_DISABLE_COPY_MOVE(TemporaryHome)

    bool isValid() const { return dir_.isValid(); }
    QString home() const { return dir_.path(); }
    QString configDir() const { return dir_.filePath(QStringLiteral(".config")); }
    QString homeFile(const QString &relative) const { return dir_.filePath(relative); }
    // The site list and the settings file as the program names them in this home.
    QString bookmarksFile() const { return homeFile(QStringLiteral("bookmarks.tarvo")); }
    QString settingsFile() const { return configDir() + QStringLiteral("/Zodaru/Zodaru.conf"); }

private:
    QTemporaryDir dir_; // first made, last removed: the variables are put back before
    std::optional<ScopedEnv> homeVar_;
    std::optional<ScopedEnv> configVar_;
};

// A private home, a real FTP server (not started until serve() is called) and an empty
// local directory for the files that come and go.
class ServedHome : public TemporaryHome {
public:
    RealFtpServer server;

    // Starts the server with `files` (relative path to content) in its tree; false, with
    // why() telling, when it could not.
    bool serve(const QMap<QString, QByteArray> &files = {}, const RealFtpServer::Options &options = {})
    {
        why_.clear();
        if (!server.start(options)) {
            why_ = server.errorText().toLocal8Bit();
            return false;
        }
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            if (!server.writeFile(it.key(), it.value())) {
                why_ = "cannot write " + it.key().toLocal8Bit();
                return false;
            }
        }
        return true;
    }
    const char *why() const { return why_.constData(); }

    QString localDir() const { return local_.path(); }
    QString localFile(const QString &name) const { return local_.filePath(name); }

private:
    QTemporaryDir local_;
    QByteArray why_;
};

// A fresh directory as the working directory (where the local browser opens), with its
// canonical path; the former working directory comes back after.
class WorkingDirectory {
public:
    WorkingDirectory()
        : saved_(QDir::currentPath())
        , root_(QDir(dir_.path()).canonicalPath())
    {
        QDir::setCurrent(root_);
    }
    virtual ~WorkingDirectory() { QDir::setCurrent(saved_); }
    Q_DISABLE_COPY_MOVE(WorkingDirectory)

    bool isValid() const { return dir_.isValid() && QDir::currentPath() == root_; }
    QString root() const { return root_; }

private:
    QString saved_;
    QTemporaryDir dir_;
    QString root_;
};

} // namespace zodaru::test
