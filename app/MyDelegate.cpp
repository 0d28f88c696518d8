// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MyDelegate.h"

#include <QEvent>

#include "app/RetiredEngines.h"
#include "app/SessionEngine.h"
#include "app/TransferQueue.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "model/Sites.h"
#include "ui/BrowserSettings.h"
#include "ui/GetNameDirController.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindowController.h"
#include "ui/SiteActions.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace zodaru {

MyDelegate::MyDelegate(QObject *parent)
    : QObject(parent), retired_(std::make_unique<RetiredEngines>())
{
    quitQuestion_ = [this](int unfinished) {
        return QMessageBox::question(myWindow ? myWindow->window() : nullptr, tr("Quit"),
                                     tr("%n transfer(s) are not finished. Quit anyway?", nullptr, unfinished))
            == QMessageBox::Yes;
    };
}

std::shared_ptr<FTP> MyDelegate::ftp() const
{
    return command_ ? command_->ftp : nullptr;
}

std::shared_ptr<FTP> MyDelegate::dataTransfertIn() const
{
    return in_ ? in_->ftp : nullptr;
}

std::shared_ptr<FTP> MyDelegate::dataTransfertOut() const
{
    return out_ ? out_->ftp : nullptr;
}

int MyDelegate::unfinishedTransfers() const
{
    int held = 0;
    for (const HeldTransfers &site : held_)
        held += int(site.downloads.size() + site.uploads.size());
    return held + (downloads_ ? downloads_->unfinished() : 0) + (uploads_ ? uploads_->unfinished() : 0);
}

bool MyDelegate::mayQuit()
{
    const int unfinished = unfinishedTransfers();
    if (unfinished > 0) {
        zlog("Quitter avec %d transferts non termines ?", unfinished);
        if (!quitQuestion_(unfinished))
            return false;
        // Stopped now: each worker removes its partial file while the program ends.
        FTP::stopAllTransfers();
    }
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
    downloads_ = std::make_unique<TransferQueue>(
        Direction::Download,
        [this](const QString &local, const QString &remote, qint32 id, TransferQueue::Started started) {
            startTransfer(in_.get(), true, local, remote, id, std::move(started));
        },
        [this] { myWindow->refreshDownloadTable(); },
        [this] { if (in_ && in_->ftp) in_->ftp->cancelTransfer(); });
    uploads_ = std::make_unique<TransferQueue>(
        Direction::Upload,
        [this](const QString &local, const QString &remote, qint32 id, TransferQueue::Started started) {
            startTransfer(out_.get(), false, local, remote, id, std::move(started));
        },
        [this] { myWindow->refreshUploadTable(); },
        [this] { if (out_ && out_->ftp) out_->ftp->cancelTransfer(); });
    DistributedCenter = &NotificationCenter::defaultCenter();
    observeTransfers();
    checkCertificates();
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
    return downloads_ ? &downloads_->entries() : nullptr;
}

const QList<File> *MyDelegate::uploadQueue() const
{
    return uploads_ ? &uploads_->entries() : nullptr;
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
