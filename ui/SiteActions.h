// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/PasswordStore.h"
#include "model/SiteBook.h"
#include "model/SiteRecord.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace zodaru {

class AppContext;
class SiteManager;

// What the application does with saved sites, for the site manager, the connection dialog
// and the application controller: saving them (the passwords into the keyring when one is
// running, otherwise where the user says), connecting to one (its password from the
// keyring, or asked), opening its directories once logged in, offering to save a site
// typed in the connection dialog, and, once, to move the file's passwords to the keyring.
//
// Questions to the user are non-modal boxes with object names ("saveSiteQuestion",
// "passwordPlaceQuestion", "passwordQuestion", "moveToKeyringQuestion"); nothing here
// waits on the keyring or on the user. Main thread only.
class SiteActions final : public QObject {
    Q_OBJECT
public:
    // `saved` gets the file's triples after each save (for the application's site list).
    using Saved = std::function<void(QList<QStringList> entries)>;
    SiteActions(AppContext &app, const QString &filePath, const QString &settingsPath, Saved saved,
                QObject *parent = nullptr);
    ~SiteActions() override;
    Q_DISABLE_COPY_MOVE(SiteActions)

    SiteBook &book() { return book_; }
    PasswordStore &passwords() { return passwords_; }

    // Shows the site manager, making it when none is open.
    void openManager();
    SiteManager *manager() const;

    // Replaces the sites and saves them; false (the user told why) when they could not be.
    bool save(QList<SiteRecord> records);

    // Where a site's new password goes: nowhere when empty (asked at connect), the keyring
    // when one takes it, else the file or nowhere as the user answers. `placed` gets the
    // place and what the file is to hold.
    using Placed = std::function<void(SiteRecord::PasswordPlace place, const QString &filePassword)>;
    void placePassword(QObject *context, const QString &server, const QString &login,
                       const QString &password, Placed placed);

    // Connects to a site, its password taken from the record, the keyring or the user.
    void connectToSite(const SiteRecord &site);
    // The saved site that the connection dialog opens on, if any.
    std::optional<SiteRecord> lastSite() const;

    // The connection dialog's "Go!" with this account typed in.
    void typedConnect(const QString &server, const QString &login);
    // The three logins of a connect succeeded.
    void sessionOpened(const QString &server, const QString &login, const QString &password);

    // Once the main window is up: tells the user of a damaged site file, and offers the move
    // of passwords into the keyring.
    void startUp();
    // Asks once whether the passwords kept in the file go into the keyring, when one runs.
    void offerKeyringMove();

    QWidget *dialogParent() const;

Q_SIGNALS:
    // The saved sites changed other than through the site manager.
    void changed();

private:
    void askPasswordPlace(const QString &server, const QString &login, const QString &password,
                          QPointer<QObject> context, Placed placed);
    void askPassword(const SiteRecord &site);
    void dial(const SiteRecord &site, const QString &password);
    void openDirectories(const SiteRecord &site);
    void offerSave(const QString &server, const QString &login, const QString &password);
    void moveToKeyring();
    void tellUser(const QString &text) const;

    AppContext &app_;
    SiteBook book_;
    PasswordStore passwords_;
    Saved saved_;
    QPointer<SiteManager> manager_;
    // A connect from a saved site, until its session opens: its directories open then.
    std::optional<SiteRecord> pendingSite_;
    // What "Go!" sent, until the session opens.
    std::optional<SiteSettings::Account> typed_;
};

} // namespace zodaru
