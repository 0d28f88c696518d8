// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MyDelegate.h"

#include <QEvent>

#include "app/RetiredEngines.h"
#include "app/Session.h"
#include "app/Transfers.h"
#include "base/Log.h"
#include "ftp/FTP.h"
#include "ftp/NotificationCenter.h"
#include "ftp/ServerAddress.h"
#include "model/Sites.h"
#include "ui/BrowserSettings.h"
#include "ui/GetNameDirController.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindowController.h"
#include "ui/SiteActions.h"
#include "ui/TransferSettingsDialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace zodaru {

MyDelegate::MyDelegate(QObject *parent)
    : QObject(parent), retired_(std::make_unique<RetiredEngines>()),
      session_(std::make_unique<Session>(*this, *retired_)),
      transfers_(std::make_unique<Transfers>(*this, *session_, *retired_))
{
    quitQuestion_ = [this](int unfinished) {
        return QMessageBox::question(myWindow ? myWindow->window() : nullptr, tr("Quit"),
                                     tr("%n transfer(s) are not finished. Quit anyway?", nullptr, unfinished))
            == QMessageBox::Yes;
    };
}

// The transfers go first: they refer to the session. The session closes its engines, whose
// workers' running jobs then return at once; the window, which may still ask for the
// queues while it goes, finds none.
MyDelegate::~MyDelegate()
{
    transfers_.reset();
    session_.reset();
    retired_.reset();
}

int MyDelegate::unfinishedTransfers() const
{
    return transfers_ ? transfers_->unfinishedTransfers() : 0;
}

bool MyDelegate::mayQuit()
{
    const int unfinished = unfinishedTransfers();
    if (unfinished > 0) {
        zlog("Quitter avec %d transferts non termines ?", unfinished);
        if (!quitQuestion_(unfinished))
            return false;
    }
    // Saved before the transfers stop: they come back as they were at the next connect.
    transfers_->saveQueues();
    // Stopped now: each worker keeps its partial file for that next connect.
    if (unfinished > 0)
        FTP::stopAllTransfers();
    return true;
}

void MyDelegate::quit()
{
    if (mayQuit())
        QCoreApplication::quit();
}

bool MyDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && myWindow && watched == myWindow->window() && !mayQuit()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MyDelegate::applicationWillFinishLaunching()
{
    createMenu();
    // Before the window, whose Bookmarks button opens its site manager.
    siteActions_ = std::make_unique<SiteActions>(*this, bookmarkPath(), SiteSettings::defaultPath(),
                                                 [this](QList<QStringList> saved) {
                                                     if (bookmarks_)
                                                         *bookmarks_ = Sites::fromEntries(std::move(saved));
                                                 });
    // The window is built before the queues and engines exist; what it asks for meanwhile
    // (table rows, the remote listing) comes back empty.
    myWindow = std::make_unique<MainWindowController>(*this);
    myWindow->window()->installEventFilter(this);
    if (mainMenu_)
        myWindow->window()->setMenuBar(mainMenu_.release());
    zlog("tudieu");
    transfers_->createQueues();
    DistributedCenter = &NotificationCenter::defaultCenter();
    observeTransfers();
    session_->checkCertificates();
    zlog("on arrive");
    bookmarks_ = std::make_unique<Sites>(Sites::fromFile(bookmarkPath()));
    countBookmarks();
}

void MyDelegate::applicationDidFinishLaunching()
{
    MainWindow *mainWindow = myWindow->window();
    mainWindow->show();
    mainWindow->raise();
    mainWindow->activateWindow();
    countBookmarks();
    siteActions_->startUp();
}

void MyDelegate::createMenu()
{
    auto menuBar = std::make_unique<QMenuBar>();

    auto *info = menuBar->addMenu(QStringLiteral("Info.."));
    info->addAction(QStringLiteral("Info Panel ..."), this,
                    &MyDelegate::orderFrontStandardInfoPanel);
    info->addAction(QStringLiteral("Help..."), QKeySequence(Qt::CTRL | Qt::Key_Question), this,
                    &MyDelegate::orderFrontHelpPanel);

    BrowserSettings::instance().fillViewMenu(*menuBar->addMenu(tr("View")));
    connect(menuBar->addAction(tr("Transfers...")), &QAction::triggered, this,
            [this] { TransferSettingsDialog::showFor(*this, myWindow ? myWindow->window() : nullptr); });

    auto *quit = menuBar->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &MyDelegate::quit, Qt::QueuedConnection);

    // Until the main window exists the menu waits here; a window already built takes it now.
    if (myWindow)
        myWindow->window()->setMenuBar(menuBar.release());
    else
        mainMenu_ = std::move(menuBar);
}

void MyDelegate::countBookmarks() const
{
    zlog("on compte les bookmarks...\n");
    zlog("on a %d bookmarks.\n", bookmarks_ ? bookmarks_->count() : 0);
}

void MyDelegate::getNameDir()
{
    namedir = GetNameDirController::create(*this, false, myWindow ? myWindow->window() : nullptr);
    namedir->showWindow();
}

const QList<File> *MyDelegate::downloadQueue() const
{
    return transfers_ ? transfers_->downloadQueue() : nullptr;
}

const QList<File> *MyDelegate::uploadQueue() const
{
    return transfers_ ? transfers_->uploadQueue() : nullptr;
}

bool MyDelegate::isConnected() const
{
    return session_ && session_->isConnected();
}

QUrl MyDelegate::remoteSite() const
{
    if (!isConnected())
        return {};
    const Session::Credentials login = session_->credentials();
    const std::optional<ServerAddress> address = ServerAddress::parse(login.server);
    if (!address)
        return {};
    QUrl site;
    site.setScheme(QStringLiteral("ftp"));
    site.setUserName(login.login);
    site.setHost(address->host);
    site.setPort(address->port);
    return site;
}

void MyDelegate::getParametersOfConnection()
{
    countBookmarks();
    session_->getParametersOfConnection();
}

void MyDelegate::connectWithAddress(const QString &address, const QString &login, const QString &password)
{
    session_->connectWithAddress(address, login, password);
}

void MyDelegate::disconnectFromFTP()
{
    session_->disconnectFromFTP();
}

void MyDelegate::disconnectRemote()
{
    session_->disconnectRemote();
}

quint64 MyDelegate::listRemote(const QString &path, ListingDone done)
{
    return session_->listRemote(path, std::move(done));
}

quint64 MyDelegate::remoteCommand(const QString &word, const QString &param, CommandDone done)
{
    return session_->remoteCommand(word, param, std::move(done));
}

quint64 MyDelegate::remoteRename(const QString &from, const QString &to, RenameDone done)
{
    return session_->remoteRename(from, to, std::move(done));
}

void MyDelegate::getFile()
{
    transfers_->getFile();
}

void MyDelegate::getEntries(const QString &remoteDirectory, const QList<File> &entries, const QString &localDirectory)
{
    transfers_->getEntries(remoteDirectory, entries, localDirectory);
}

void MyDelegate::putEntries(const QString &localDirectory, const QList<File> &entries, const QString &remoteDirectory)
{
    transfers_->putEntries(localDirectory, entries, remoteDirectory);
}

void MyDelegate::putFile()
{
    transfers_->putFile();
}

void MyDelegate::downloadFiles()
{
    transfers_->downloadFiles();
}

void MyDelegate::uploadFiles()
{
    transfers_->uploadFiles();
}

void MyDelegate::cancelTransfer(Direction direction, int index)
{
    transfers_->cancelTransfer(direction, index);
}

void MyDelegate::retryTransfer(Direction direction, int index)
{
    transfers_->retryTransfer(direction, index);
}

void MyDelegate::removeTransfers(Direction direction, const QList<int> &indexes)
{
    transfers_->removeTransfers(direction, indexes);
}

int MyDelegate::moveTransfers(Direction direction, const QList<int> &indexes, int before)
{
    return transfers_->moveTransfers(direction, indexes, before);
}

void MyDelegate::retryFailedTransfers(Direction direction)
{
    transfers_->retryFailedTransfers(direction);
}

void MyDelegate::clearFinishedTransfers(Direction direction)
{
    transfers_->clearFinishedTransfers(direction);
}

void MyDelegate::setTransfersPaused(Direction direction, bool paused)
{
    transfers_->setTransfersPaused(direction, paused);
}

bool MyDelegate::transfersPaused(Direction direction) const
{
    return transfers_ && transfers_->transfersPaused(direction);
}

void MyDelegate::applyTransferSettings(const TransferSettings &settings)
{
    session_->applyTransferSettings(settings);
}

void MyDelegate::receive(const TransferEvent &event)
{
    transfers_->chunk(event);
}

void MyDelegate::send(const TransferEvent &event)
{
    transfers_->chunk(event);
}

void MyDelegate::FileSaved(const TransferEvent &event)
{
    transfers_->ended(event);
}

void MyDelegate::FileSend(const TransferEvent &event)
{
    transfers_->ended(event);
}

void MyDelegate::observeTransfers()
{
    // Once for the life of the program: a registration per connect would deliver every
    // event once per registration and count progress several times.
    DistributedCenter->addTransferObserver(this, [this](const TransferEvent &event) {
        switch (event.kind) {
        case TransferEvent::Kind::DownloadChunk:
            receive(event);
            break;
        case TransferEvent::Kind::UploadChunk:
            send(event);
            break;
        case TransferEvent::Kind::Downloaded:
            FileSaved(event);
            break;
        case TransferEvent::Kind::Uploaded:
            FileSend(event);
            break;
        }
    });
}

std::shared_ptr<FTP> MyDelegate::ftp() const
{
    return session_->ftp();
}

void MyDelegate::setEngineSettings(const FTP::Settings &settings)
{
    session_->setEngineSettings(settings);
}

std::shared_ptr<FTP> MyDelegate::dataTransfertIn() const
{
    return session_->dataTransfertIn();
}

std::shared_ptr<FTP> MyDelegate::dataTransfertOut() const
{
    return session_->dataTransfertOut();
}

ParametersWindowController *MyDelegate::parameters() const
{
    return session_->parameters();
}

bool MyDelegate::isDialing() const
{
    return session_->isDialing();
}

CertificateDialog *MyDelegate::certificateQuestion() const
{
    return session_->certificateQuestion();
}

ClearPasswordDialog *MyDelegate::clearPasswordQuestion() const
{
    return session_->clearPasswordQuestion();
}

void MyDelegate::orderFrontStandardInfoPanel()
{
    if (!infoPanel_) {
        infoPanel_ = new QMessageBox(
            QMessageBox::Information, tr("Info Panel"),
            tr("<b>Zodaru</b> %1<br><br>A desktop FTP client: your files and the server's side "
               "by side, with a download and an upload queue.")
                .arg(QStringLiteral(ZODARU_VERSION)),
            QMessageBox::Ok, myWindow ? myWindow->window() : nullptr);
        infoPanel_->setObjectName(QStringLiteral("infoPanel"));
        infoPanel_->setAttribute(Qt::WA_DeleteOnClose);
        infoPanel_->setWindowModality(Qt::NonModal);
    }
    infoPanel_->show();
    infoPanel_->raise();
    infoPanel_->activateWindow();
}

void MyDelegate::orderFrontHelpPanel()
{
    if (!helpPanel_) {
        helpPanel_ = new QMessageBox(
            QMessageBox::NoIcon, tr("Help"),
            tr("<p><b>Connect</b> asks for a server, a login and a password; press it again "
               "to disconnect.</p>"
               "<p>The left browser shows this computer, the right one the server. Select "
               "entries, then <b>Get files</b> to download them into the directory open on "
               "the left, or <b>Put files</b> to upload them into the directory open on the "
               "right.</p>"
               "<p>The buttons between the browsers make a directory or delete the selected "
               "entries on the side their arrow points to.</p>"
               "<p>The Download and Upload tabs show the queued files and their progress.</p>"),
            QMessageBox::Ok, myWindow ? myWindow->window() : nullptr);
        helpPanel_->setObjectName(QStringLiteral("helpPanel"));
        helpPanel_->setAttribute(Qt::WA_DeleteOnClose);
        helpPanel_->setWindowModality(Qt::NonModal);
    }
    helpPanel_->show();
    helpPanel_->raise();
    helpPanel_->activateWindow();
}

} // namespace zodaru
