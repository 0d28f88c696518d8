// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ParametersWindowController.h"

#include "base/Log.h"
#include "model/Sites.h"
#include "ui/AppContext.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/SiteActions.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>

namespace zodaru {

namespace {

// What the log shows in place of a password.
const QString hiddenPassword = QStringLiteral("****");

SitesCombo copyOfSites(const AppContext &app)
{
    if (const Sites *book = app.bookmarks())
        return SitesCombo(*book);
    // Before start-up has loaded the sites there are none to offer.
    const Sites none;
    return SitesCombo(none);
}

} // namespace

void ParametersPanelDeleter::operator()(ParametersWindow *panel) const
{
    if (!panel)
        return;
    panel->hide();
    // With an event loop running, some handler of the panel may be on the stack below us;
    // without one (and outside our own actions) nothing is, and deleting now leaks nothing.
    if (deferred || QThread::currentThread()->loopLevel() > 0)
        panel->deleteLater();
    else
        delete panel;
}

ParametersWindowController::ParametersWindowController(AppContext &app, QObject *parent)
    : QObject(parent)
    , app_(app)
    , sitesCombo(copyOfSites(app))
    , window_(new ParametersWindow)
{
    zlog("Count externe du bookmark : \n");
    zlog("count: %d\n", sitesCombo.count());
    sitesCombo.addObserver(this);

    window_->layoutWindow();
    login_ = window_->login();
    password_ = window_->password();
    server_ = window_->server();
    go_ = window_->go();
    cancel_ = window_->cancel();

    fillServerList();
    wireServerField();
    openOnLastSite();

    QWidget::setTabOrder(server_, login_);
    QWidget::setTabOrder(login_, password_);
    QWidget::setTabOrder(password_, cancel_);
    QWidget::setTabOrder(cancel_, go_);
    QWidget::setTabOrder(go_, server_);

    QObject::connect(go_, &QPushButton::clicked, this, &ParametersWindowController::connect);
    QObject::connect(cancel_, &QPushButton::clicked, this, &ParametersWindowController::cancel);

    window_->setWindowTitle(QStringLiteral("Parametres..."));
}

ParametersWindowController::~ParametersWindowController()
{
    window_.get_deleter().deferred = acting_;
}

void ParametersWindowController::showWindow()
{
    window_->show();
    window_->raise();
    window_->activateWindow();
    server_->setFocus();
}

void ParametersWindowController::fillServerList()
{
    // The site list is fixed for the life of the dialog, so the combo box asks its source
    // once, here, rather than on every repaint.
    const qint32 count = sitesCombo.numberOfItemsInComboBox();
    for (qint32 i = 0; i < count; ++i)
        server_->addItem(sitesCombo.comboBox(i));
    // The field starts empty; the sites are only offered.
    server_->setCurrentIndex(-1);
    server_->clearEditText();
}

void ParametersWindowController::openOnLastSite()
{
    SiteActions *sites = app_.siteActions();
    const auto last = sites ? sites->lastSite() : std::nullopt;
    if (!last)
        return;
    for (qint32 i = 0; i < sitesCombo.count(); ++i) {
        const auto site = sitesCombo.siteAt(i);
        if (site && site->site() == last->server && site->login() == last->login) {
            server_->setCurrentIndex(i);
            siteChosen(i);
            return;
        }
    }
}

void ParametersWindowController::fetchPassword(const QString &server, const QString &login)
{
    SiteActions *sites = app_.siteActions();
    if (!sites)
        return;
    const qsizetype i = sites->book().find(server, login);
    if (i < 0 || sites->book().records().at(i).passwordPlace != SiteRecord::PasswordPlace::Keyring)
        return;
    sites->passwords().read(server, login, this, [this, server, login](PasswordStore::Failure f, const QString &pw) {
        // Only into the fields of the site it was asked for, and over nothing typed.
        if (f == PasswordStore::Failure::None && window_->getserver() == server && window_->getlogin() == login
            && window_->getpassword().isEmpty())
            password_->setText(pw);
    });
}

void ParametersWindowController::wireServerField()
{
    // Only a choice from the list (popup or arrow keys) fills in the site's credentials.
    QObject::connect(server_, &QComboBox::activated, this,
                     &ParametersWindowController::siteChosen);
    if (QLineEdit *edit = server_->lineEdit()) {
        QObject::connect(edit, &QLineEdit::textEdited, this,
                         &ParametersWindowController::serverTextEdited);
        QObject::connect(edit, &QLineEdit::editingFinished, this,
                         &ParametersWindowController::serverEditingFinished);
    }
}

void ParametersWindowController::serverTextEdited()
{
    if (!editingServer_ && sitesCombo.control()) {
        editingServer_ = true;
        sitesCombo.controlTextDidBeginEditing();
    }
    sitesCombo.controlTextDidChange();
}

void ParametersWindowController::serverEditingFinished()
{
    if (!editingServer_)
        return;
    editingServer_ = false;
    sitesCombo.controlTextDidEndEditing();
}

void ParametersWindowController::siteChosen(int index)
{
    // Typing a saved server's name is not choosing the site: what was typed in the login
    // and password fields stays.
    if (window_->isCommittingServerText())
        return;
    if (const auto site = sitesCombo.siteAt(index)) {
        setLogin(site->login(), site->password());
        if (site->password().isEmpty())
            fetchPassword(site->site(), site->login());
    }
}

void ParametersWindowController::setLogin(const QString &login, const QString &password)
{
    zlog("on mets login : %@ password : %@\n", login, hiddenPassword);
    login_->setText(login);
    password_->setText(password);
}

void ParametersWindowController::connect()
{
    zlog("On est dans le connect ... \n");
    zlog("Login : %@ Password %@ sur le serveur : %@\n", window_->getlogin(), hiddenPassword,
         window_->getserver());
    window_->accept();

    const QString server = window_->getserver();
    const QString login = window_->getlogin();
    const QString password = window_->getpassword();
    const QPointer<ParametersWindowController> self(this);
    acting_ = true;
    if (SiteActions *sites = app_.siteActions()) {
        const qsizetype saved = sites->book().find(server, login);
        if (password.isEmpty() && saved >= 0 && sites->book().records().at(saved).needsPassword()) {
            // A saved site whose password is in the keyring or asked at each connect.
            sites->connectToSite(sites->book().records().at(saved));
        } else {
            sites->typedConnect(server, login);
            app_.connectWithAddress(server, login, password);
        }
    } else {
        app_.connectWithAddress(server, login, password);
    }
    // The application controller may have dropped this dialog controller meanwhile.
    if (self)
        acting_ = false;
}

void ParametersWindowController::cancel()
{
    zlog("On est dans le cancel... \n");
    window_->reject();
    if (MainWindowController *main = app_.window()) {
        const QPointer<ParametersWindowController> self(this);
        acting_ = true;
        main->setDisconnected();
        if (self)
            acting_ = false;
    }
}

} // namespace zodaru
