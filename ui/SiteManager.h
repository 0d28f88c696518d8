// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/SiteRecord.h"

#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace zodaru {

class SiteActions;

// The site manager, opened by the Bookmarks button: the saved sites in a list, with add,
// duplicate, remove (asked first: "removeSiteQuestion") and connect, and a form for the
// selected site's name, server, login, password and the directories to open.
//
// Every change is saved when a field is left (or Return pressed), on add, duplicate,
// remove, connect and when the window closes. A new password goes to the keyring, or
// where the user says when none runs (SiteActions::placePassword); the password field of
// a site whose password is elsewhere than in the file starts empty and, left empty, keeps
// it. Non-modal; main thread only.
class SiteManager final : public QDialog {
    Q_OBJECT
public:
    SiteManager(SiteActions &actions, QWidget *parent = nullptr);
    ~SiteManager() override;
    Q_DISABLE_COPY_MOVE(SiteManager)

    QListWidget *list() const { return list_; }
    QLineEdit *name() const { return name_; }
    QLineEdit *server() const { return server_; }
    QLineEdit *login() const { return login_; }
    QLineEdit *password() const { return password_; }
    QLineEdit *remoteDirectory() const { return remoteDirectory_; }
    QLineEdit *localDirectory() const { return localDirectory_; }
    QPushButton *addButton() const { return add_; }
    QPushButton *duplicateButton() const { return duplicate_; }
    QPushButton *removeButton() const { return remove_; }
    QPushButton *connectButton() const { return connect_; }
    QPushButton *closeButton() const { return close_; }
    QLabel *problem() const { return problem_; }

    // Saves what the form holds that is not saved yet.
    void commit();
    // Shows the saved sites again (they changed elsewhere), keeping the selection.
    void reload();
    void showProblem(const QString &text);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void layoutWindow();
    int current() const;
    void select(int row);
    void fieldEdited();
    void passwordEdited();
    void add();
    void duplicate();
    void askRemove();
    void remove(int row);
    void connectToSite();
    void passwordPlaced(quint64 id, SiteRecord::PasswordPlace place, const QString &filePassword);
    void showPasswordPlace(const SiteRecord &site);
    void insert(int row, const SiteRecord &site);
    void saveAll();

    SiteActions &actions_;
    // The sites as shown, in order, each with a number that stays with it while the
    // window is open (password answers come back later and find their site by it).
    QList<SiteRecord> sites_;
    QList<quint64> ids_;
    quint64 lastId_ = 0;
    bool dirty_ = false;
    bool passwordDirty_ = false;
    bool filling_ = false;

    QListWidget *list_ = nullptr;
    QLineEdit *name_ = nullptr;
    QLineEdit *server_ = nullptr;
    QLineEdit *login_ = nullptr;
    QLineEdit *password_ = nullptr;
    QLineEdit *remoteDirectory_ = nullptr;
    QLineEdit *localDirectory_ = nullptr;
    QPushButton *add_ = nullptr;
    QPushButton *duplicate_ = nullptr;
    QPushButton *remove_ = nullptr;
    QPushButton *connect_ = nullptr;
    QPushButton *close_ = nullptr;
    QLabel *problem_ = nullptr;
};

} // namespace zodaru
