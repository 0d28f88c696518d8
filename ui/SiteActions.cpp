// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SiteActions.h"

#include "base/Log.h"
#include "ui/AppContext.h"
#include "ui/BrowserPathOpener.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/SiteManager.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <memory>
#include <utility>

namespace zodaru {

using Place = SiteRecord::PasswordPlace;

namespace {

QString account(const QString &server, const QString &login)
{
    return login.isEmpty() ? server : login + QLatin1Char('@') + server;
}

// A non-modal question that deletes itself once answered.
QMessageBox *question(QWidget *parent, const char *name, const QString &title, const QString &text,
                      const QString &details)
{
    auto *box = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setInformativeText(details);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    return box;
}

} // namespace

SiteActions::SiteActions(AppContext &app, const QString &filePath, const QString &settingsPath, Saved saved,
                         QObject *parent)
    : QObject(parent), app_(app), book_(filePath, settingsPath), saved_(std::move(saved))
{
    book_.load();
}

SiteActions::~SiteActions()
{
    delete manager_.data();
}

SiteManager *SiteActions::manager() const
{
    return manager_.data();
}

QWidget *SiteActions::dialogParent() const
{
    if (manager_ && manager_->isVisible())
        return manager_;
    MainWindowController *main = app_.window();
    return main ? main->window() : nullptr;
}

void SiteActions::tellUser(const QString &text) const
{
    if (MainWindowController *main = app_.window())
        main->tellUser(text);
}

void SiteActions::openManager()
{
    if (!manager_) {
        MainWindowController *main = app_.window();
        manager_ = new SiteManager(*this, main ? main->window() : nullptr);
    }
    manager_->show();
    manager_->raise();
    manager_->activateWindow();
}

bool SiteActions::save(QList<SiteRecord> records)
{
    book_.setRecords(std::move(records));
    QString why;
    switch (book_.save()) {
    case SiteBook::SaveFailure::None:
        if (saved_)
            saved_(book_.entries());
        return true;
    case SiteBook::SaveFailure::DamagedFile:
        why = tr("The site file %1 could not be read; it is left as it is, and the sites are not "
                 "saved until it is repaired or moved away.")
                  .arg(book_.filePath());
        break;
    case SiteBook::SaveFailure::FileNotWritten:
        why = tr("The site file %1 could not be written.").arg(book_.filePath());
        break;
    case SiteBook::SaveFailure::SettingsNotWritten:
        why = tr("The settings file %1 could not be written.").arg(book_.settings().path());
        break;
    }
    zlog("Sites non enregistres : %@", why);
    tellUser(why);
    if (manager_)
        manager_->showProblem(why);
    return false;
}

void SiteActions::placePassword(QObject *context, const QString &server, const QString &login,
                                const QString &password, Placed placed)
{
    const QPointer<QObject> guard(context);
    if (password.isEmpty()) {
        // No password: asked at each connect. The keyring's old one goes, unless another
        // site of the same account still uses it.
        int users = 0;
        for (const SiteRecord &r : book_.records())
            users += r.sameAccount(server, login) && r.passwordPlace == Place::Keyring;
        if (users <= 1)
            passwords_.remove(server, login, this, [](PasswordStore::Failure) {});
        QTimer::singleShot(0, this, [guard, placed = std::move(placed)] {
            if (guard)
                placed(Place::Ask, QString());
        });
        return;
    }
    passwords_.write(server, login, password, this,
                     [this, server, login, password, guard, placed = std::move(placed)](PasswordStore::Failure f) {
                         if (!guard)
                             return;
                         if (f == PasswordStore::Failure::None) {
                             placed(Place::Keyring, QString());
                             return;
                         }
                         zlog("Mot de passe hors du trousseau pour %@ (%d)", account(server, login), int(f));
                         askPasswordPlace(server, login, password, guard, placed);
                     });
}

void SiteActions::askPasswordPlace(const QString &server, const QString &login, const QString &password,
                                   QPointer<QObject> context, Placed placed)
{
    QMessageBox *box = question(dialogParent(), "passwordPlaceQuestion", tr("Password"),
                                tr("No keyring is available to keep the password of %1.")
                                    .arg(account(server, login)),
                                tr("Keep it in the site file, where it is stored unencrypted, or ask "
                                   "for it at each connect?"));
    QPushButton *keep = box->addButton(tr("Keep in the File"), QMessageBox::AcceptRole);
    QPushButton *ask = box->addButton(tr("Ask at Each Connect"), QMessageBox::RejectRole);
    box->setDefaultButton(ask);
    box->setEscapeButton(ask);
    connect(box, &QMessageBox::finished, this, [box, keep, password, context, placed = std::move(placed)] {
        if (!context)
            return;
        if (box->clickedButton() == keep)
            placed(Place::File, password);
        else
            placed(Place::Ask, QString());
    });
    box->open();
}

std::optional<SiteRecord> SiteActions::lastSite() const
{
    const auto last = book_.settings().lastSite();
    if (!last)
        return std::nullopt;
    const qsizetype i = book_.find(last->server, last->login);
    if (i < 0)
        return std::nullopt;
    return book_.records().at(i);
}

void SiteActions::connectToSite(const SiteRecord &site)
{
    switch (site.passwordPlace) {
    case Place::File:
        if (!site.password.isEmpty()) {
            dial(site, site.password);
            return;
        }
        break;
    case Place::Keyring:
        passwords_.read(site.server, site.login, this, [this, site](PasswordStore::Failure f, const QString &pw) {
            if (f == PasswordStore::Failure::None && !pw.isEmpty())
                dial(site, pw);
            else
                askPassword(site);
        });
        return;
    case Place::Ask:
        break;
    }
    askPassword(site);
}

void SiteActions::askPassword(const SiteRecord &site)
{
    auto *dialog = new QInputDialog(dialogParent());
    dialog->setObjectName(QStringLiteral("passwordQuestion"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setWindowTitle(tr("Password"));
    dialog->setLabelText(tr("Password of %1:").arg(account(site.server, site.login)));
    dialog->setTextEchoMode(QLineEdit::Password);
    connect(dialog, &QInputDialog::textValueSelected, this, [this, site](const QString &pw) { dial(site, pw); });
    dialog->open();
}

void SiteActions::dial(const SiteRecord &site, const QString &password)
{
    pendingSite_ = site;
    typed_.reset();
    app_.connectWithAddress(site.server, site.login, password);
}

void SiteActions::typedConnect(const QString &server, const QString &login)
{
    pendingSite_.reset();
    typed_ = SiteSettings::Account{server, login};
}

void SiteActions::sessionOpened(const QString &server, const QString &login, const QString &password)
{
    book_.settings().setLastSite(server, login);
    if (pendingSite_ && pendingSite_->sameAccount(server, login)) {
        const SiteRecord site = *std::exchange(pendingSite_, std::nullopt);
        openDirectories(site);
        return;
    }
    if (typed_ && typed_->server == server && typed_->login == login) {
        typed_.reset();
        offerSave(server, login, password);
    }
}

void SiteActions::openDirectories(const SiteRecord &site)
{
    MainWindowController *main = app_.window();
    if (!main)
        return;
    if (!site.localDirectory.isEmpty() && !main->window()->localView()->setPath(site.localDirectory))
        tellUser(tr("The local directory %1 was not found.").arg(site.localDirectory));
    if (!site.remoteDirectory.isEmpty()) {
        const QPointer<SiteActions> self(this);
        const QString dir = site.remoteDirectory;
        BrowserPathOpener::open(*main->window()->remoteView(), dir, [self, dir](bool opened) {
            if (self && !opened)
                self->tellUser(tr("The remote directory %1 was not found.").arg(dir));
        });
    }
}

void SiteActions::offerSave(const QString &server, const QString &login, const QString &password)
{
    if (book_.find(server, login) >= 0 || book_.settings().saveOffered(server, login))
        return;
    book_.settings().setSaveOffered(server, login);
    QMessageBox *box = question(dialogParent(), "saveSiteQuestion", tr("Save Site"),
                                tr("Save %1 as a site?").arg(account(server, login)),
                                tr("Saved sites are listed under Bookmarks and in the connection "
                                   "dialog."));
    box->setStandardButtons(QMessageBox::Save | QMessageBox::Discard);
    box->setDefaultButton(QMessageBox::Save);
    connect(box, &QMessageBox::finished, this, [this, box, server, login, password] {
        if (box->standardButton(box->clickedButton()) != QMessageBox::Save)
            return;
        placePassword(this, server, login, password, [this, server, login](Place place, const QString &filePassword) {
            if (manager_)
                manager_->commit();
            QList<SiteRecord> records = book_.records();
            SiteRecord site;
            site.name = server;
            site.server = server;
            site.login = login;
            site.password = filePassword;
            site.passwordPlace = place;
            records.append(site);
            if (save(records))
                Q_EMIT changed();
        });
    });
    box->open();
}

void SiteActions::startUp()
{
    if (book_.fileState() == SiteListFile::State::Damaged) {
        zlog("Fichier des sites illisible : %@", book_.filePath());
        tellUser(tr("The site file %1 could not be read; it is left as it is.").arg(book_.filePath()));
    }
    offerKeyringMove();
}

void SiteActions::offerKeyringMove()
{
    if (book_.settings().keyringMoveOffered())
        return;
    int inFile = 0;
    for (const SiteRecord &r : book_.records())
        inFile += r.passwordPlace == Place::File && !r.password.isEmpty();
    if (inFile == 0)
        return;
    passwords_.probe(this, [this, inFile](bool running) {
        if (!running || book_.settings().keyringMoveOffered())
            return;
        book_.settings().setKeyringMoveOffered();
        QMessageBox *box = question(dialogParent(), "moveToKeyringQuestion", tr("Passwords"),
                                    tr("%n saved site(s) keep their password unencrypted in the site "
                                       "file. Move the passwords into the desktop's keyring?",
                                       nullptr, inFile),
                                    tr("The site file then keeps an empty password for them."));
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        connect(box, &QMessageBox::finished, this, [this, box] {
            if (box->standardButton(box->clickedButton()) == QMessageBox::Yes)
                moveToKeyring();
        });
        box->open();
    });
}

void SiteActions::moveToKeyring()
{
    struct Move {
        SiteRecord site;
        bool stored = false;
    };
    auto moves = std::make_shared<QList<Move>>();
    for (const SiteRecord &r : book_.records())
        if (r.passwordPlace == Place::File && !r.password.isEmpty())
            moves->append({r, false});
    auto left = std::make_shared<qsizetype>(moves->size());
    for (qsizetype i = 0; i < moves->size(); ++i) {
        const SiteRecord &site = moves->at(i).site;
        passwords_.write(site.server, site.login, site.password, this, [this, moves, left, i](PasswordStore::Failure f) {
            (*moves)[i].stored = f == PasswordStore::Failure::None;
            if (--*left > 0)
                return;
            // Every answer is in: the sites whose password the keyring took, and that
            // still hold that same password, drop it from the file.
            if (manager_)
                manager_->commit();
            QList<SiteRecord> records = book_.records();
            int failed = 0;
            for (const Move &m : *moves) {
                failed += !m.stored;
                if (!m.stored)
                    continue;
                for (SiteRecord &r : records)
                    if (r.sameAccount(m.site.server, m.site.login) && r.passwordPlace == Place::File
                        && r.password == m.site.password) {
                        r.passwordPlace = Place::Keyring;
                        r.password.clear();
                    }
            }
            if (save(records))
                Q_EMIT changed();
            if (failed > 0)
                tellUser(tr("%n password(s) could not be moved into the keyring; they stay in the site file.",
                            nullptr, failed));
        });
    }
}

} // namespace zodaru
