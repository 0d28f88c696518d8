// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SiteManager.h"

#include "ftp/ServerAddress.h"
#include "ui/SiteActions.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zodaru {

using Place = SiteRecord::PasswordPlace;

SiteManager::SiteManager(SiteActions &actions, QWidget *parent)
    : QDialog(parent), actions_(actions)
{
    setObjectName(QStringLiteral("siteManager"));
    setWindowTitle(tr("Sites"));
    setModal(false);
    layoutWindow();
    if (!restoreGeometry(actions_.book().settings().managerGeometry()))
        resize(560, 320);
    reload();
    const auto last = actions_.lastSite();
    if (last) {
        const auto it = std::find(sites_.begin(), sites_.end(), *last);
        if (it != sites_.end())
            select(int(it - sites_.begin()));
    }
}

SiteManager::~SiteManager()
{
    // QDialog's destructor hides the window, which takes the focus from a field and makes
    // it signal editingFinished: by then this is no longer a SiteManager, so nothing of the
    // fields may reach it any more.
    for (QLineEdit *field : {name_, server_, login_, password_, remoteDirectory_, localDirectory_})
        field->disconnect(this);
    list_->disconnect(this);
}

void SiteManager::layoutWindow()
{
    list_ = new QListWidget(this);
    add_ = new QPushButton(tr("Add"), this);
    duplicate_ = new QPushButton(tr("Duplicate"), this);
    remove_ = new QPushButton(tr("Remove"), this);
    name_ = new QLineEdit(this);
    server_ = new QLineEdit(this);
    server_->setPlaceholderText(tr("host, host:port, ftp://, ftpes:// or ftps://host"));
    login_ = new QLineEdit(this);
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    remoteDirectory_ = new QLineEdit(this);
    remoteDirectory_->setPlaceholderText(tr("/ (the server's first directory)"));
    localDirectory_ = new QLineEdit(this);
    localDirectory_->setPlaceholderText(tr("as it is"));
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->hide();
    connect_ = new QPushButton(tr("Connect"), this);
    close_ = new QPushButton(tr("Close"), this);
    // Return in a field saves it; it presses no button.
    for (QPushButton *b : {add_, duplicate_, remove_, connect_, close_})
        b->setAutoDefault(false);

    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(add_);
    listButtons->addWidget(duplicate_);
    listButtons->addWidget(remove_);
    auto *left = new QVBoxLayout;
    left->addWidget(list_);
    left->addLayout(listButtons);

    auto *form = new QFormLayout;
    form->addRow(tr("Name:"), name_);
    form->addRow(tr("Server:"), server_);
    form->addRow(tr("Login:"), login_);
    form->addRow(tr("Password:"), password_);
    form->addRow(tr("Remote directory:"), remoteDirectory_);
    form->addRow(tr("Local directory:"), localDirectory_);
    auto *right = new QVBoxLayout;
    right->addLayout(form);
    right->addWidget(problem_);
    right->addStretch();
    auto *actionsRow = new QHBoxLayout;
    actionsRow->addStretch();
    actionsRow->addWidget(close_);
    actionsRow->addWidget(connect_);
    right->addLayout(actionsRow);

    auto *top = new QHBoxLayout(this);
    top->addLayout(left, 2);
    top->addLayout(right, 3);

    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!filling_) {
            commit();
            select(row);
        }
    });
    for (QLineEdit *field : {name_, server_, login_, remoteDirectory_, localDirectory_})
        connect(field, &QLineEdit::textEdited, this, &SiteManager::fieldEdited);
    connect(password_, &QLineEdit::textEdited, this, &SiteManager::passwordEdited);
    for (QLineEdit *field : {name_, server_, login_, password_, remoteDirectory_, localDirectory_})
        connect(field, &QLineEdit::editingFinished, this, &SiteManager::commit);
    connect(add_, &QPushButton::clicked, this, &SiteManager::add);
    connect(duplicate_, &QPushButton::clicked, this, &SiteManager::duplicate);
    connect(remove_, &QPushButton::clicked, this, &SiteManager::askRemove);
    connect(connect_, &QPushButton::clicked, this, &SiteManager::connectToSite);
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
}

int SiteManager::current() const
{
    const int row = list_->currentRow();
    return row >= 0 && row < sites_.size() ? row : -1;
}

void SiteManager::reload()
{
    const int keep = list_->currentRow();
    filling_ = true;
    sites_ = actions_.book().records();
    ids_.clear();
    list_->clear();
    for (const SiteRecord &site : std::as_const(sites_)) {
        ids_.append(++lastId_);
        list_->addItem(site.title());
    }
    filling_ = false;
    dirty_ = false;
    select(sites_.isEmpty() ? -1 : std::clamp(keep, 0, int(sites_.size()) - 1));
    if (actions_.book().fileState() == SiteListFile::State::Damaged)
        showProblem(tr("The site file %1 could not be read; it is left as it is, and the sites are "
                       "not saved until it is repaired or moved away.")
                        .arg(actions_.book().filePath()));
}

void SiteManager::select(int row)
{
    filling_ = true;
    list_->setCurrentRow(row);
    const bool any = row >= 0 && row < sites_.size();
    const SiteRecord site = any ? sites_.at(row) : SiteRecord();
    name_->setText(site.name);
    server_->setText(site.server);
    login_->setText(site.login);
    remoteDirectory_->setText(site.remoteDirectory);
    localDirectory_->setText(site.localDirectory);
    showPasswordPlace(site);
    passwordDirty_ = false;
    for (QWidget *w : std::initializer_list<QWidget *>{name_, server_, login_, password_, remoteDirectory_,
                                                       localDirectory_, duplicate_, remove_, connect_})
        w->setEnabled(any);
    filling_ = false;
}

void SiteManager::showPasswordPlace(const SiteRecord &site)
{
    password_->setText(site.passwordPlace == Place::File ? site.password : QString());
    switch (site.passwordPlace) {
    case Place::Keyring:
        password_->setPlaceholderText(tr("kept in the keyring"));
        break;
    case Place::Ask:
        password_->setPlaceholderText(tr("asked at each connect"));
        break;
    case Place::File:
        password_->setPlaceholderText(site.password.isEmpty() ? tr("asked at each connect") : QString());
        break;
    }
}

void SiteManager::fieldEdited()
{
    const int row = current();
    if (row < 0 || filling_)
        return;
    SiteRecord &site = sites_[row];
    site.name = name_->text();
    site.server = server_->text().trimmed();
    site.login = login_->text();
    site.remoteDirectory = remoteDirectory_->text().trimmed();
    site.localDirectory = localDirectory_->text().trimmed();
    list_->item(row)->setText(site.title());
    dirty_ = true;
}

void SiteManager::passwordEdited()
{
    if (current() >= 0 && !filling_)
        passwordDirty_ = true;
}

void SiteManager::commit()
{
    const int row = current();
    if (row >= 0 && passwordDirty_) {
        passwordDirty_ = false;
        const SiteRecord &site = sites_.at(row);
        const QString typed = password_->text();
        // Left empty, a password kept elsewhere than in the file stays where it is.
        const bool unchanged = site.passwordPlace == Place::File ? typed == site.password : typed.isEmpty();
        if (!unchanged) {
            const quint64 id = ids_.at(row);
            actions_.placePassword(this, site.server, site.login, typed,
                                   [this, id](Place place, const QString &filePassword) {
                                       passwordPlaced(id, place, filePassword);
                                   });
        }
    }
    if (dirty_)
        saveAll();
}

void SiteManager::passwordPlaced(quint64 id, Place place, const QString &filePassword)
{
    const int row = int(ids_.indexOf(id));
    if (row < 0)
        return; // removed meanwhile
    sites_[row].passwordPlace = place;
    sites_[row].password = filePassword;
    saveAll();
    if (row == current() && !passwordDirty_) {
        filling_ = true;
        showPasswordPlace(sites_.at(row));
        filling_ = false;
    }
}

void SiteManager::saveAll()
{
    dirty_ = false;
    if (actions_.save(sites_) && actions_.book().fileState() != SiteListFile::State::Damaged)
        problem_->hide();
}

void SiteManager::showProblem(const QString &text)
{
    problem_->setText(text);
    problem_->show();
}

void SiteManager::insert(int row, const SiteRecord &site)
{
    filling_ = true;
    sites_.insert(row, site);
    ids_.insert(row, ++lastId_);
    list_->insertItem(row, site.title());
    filling_ = false;
    select(row);
    saveAll();
}

void SiteManager::add()
{
    commit();
    SiteRecord site;
    site.name = tr("New site");
    insert(int(sites_.size()), site);
    name_->setFocus();
    name_->selectAll();
}

void SiteManager::duplicate()
{
    commit();
    const int row = current();
    if (row < 0)
        return;
    SiteRecord copy = sites_.at(row);
    copy.name = tr("%1 (copy)").arg(copy.title());
    insert(row + 1, copy);
}

void SiteManager::askRemove()
{
    commit();
    const int row = current();
    if (row < 0)
        return;
    const quint64 id = ids_.at(row);
    auto *box = new QMessageBox(QMessageBox::Question, tr("Remove Site"),
                                tr("Remove the site \"%1\"?").arg(sites_.at(row).title()), QMessageBox::NoButton,
                                this);
    box->setObjectName(QStringLiteral("removeSiteQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *removeIt = box->addButton(tr("Remove"), QMessageBox::DestructiveRole);
    QPushButton *keep = box->addButton(QMessageBox::Cancel);
    // The button that removes nothing is the one Return and Escape press.
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    connect(box, &QMessageBox::finished, this, [this, box, removeIt, id] {
        if (box->clickedButton() == removeIt)
            remove(int(ids_.indexOf(id)));
    });
    box->open();
}

void SiteManager::remove(int row)
{
    if (row < 0 || row >= sites_.size())
        return;
    const SiteRecord site = sites_.at(row);
    filling_ = true;
    sites_.removeAt(row);
    ids_.removeAt(row);
    delete list_->takeItem(row);
    filling_ = false;
    const bool shared = std::any_of(sites_.begin(), sites_.end(), [&](const SiteRecord &r) {
        return r.sameAccount(site.server, site.login) && r.passwordPlace == Place::Keyring;
    });
    if (site.passwordPlace == Place::Keyring && !shared)
        actions_.passwords().remove(site.server, site.login, this, [](PasswordStore::Failure) {});
    select(std::min(row, int(sites_.size()) - 1));
    saveAll();
}

void SiteManager::connectToSite()
{
    const int row = current();
    if (row < 0)
        return;
    // A password just typed is used for this connect even before the keyring has it.
    const QString typed = passwordDirty_ ? password_->text() : QString();
    commit();
    SiteRecord site = sites_.at(row);
    if (!ServerAddress::parse(site.server)) {
        showProblem(tr("\"%1\" names no server.").arg(site.server));
        server_->setFocus();
        return;
    }
    if (!typed.isEmpty()) {
        site.password = typed;
        site.passwordPlace = Place::File;
    }
    close();
    actions_.connectToSite(site);
}

void SiteManager::hideEvent(QHideEvent *event)
{
    commit();
    actions_.book().settings().setManagerGeometry(saveGeometry());
    QDialog::hideEvent(event);
}

} // namespace zodaru
