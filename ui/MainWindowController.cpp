// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainWindowController.h"
#include "ui/SiteActions.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "model/File.h"
#include "ui/AppContext.h"
#include "ui/BrowserEntryActions.h"
#include "ui/CellFile.h"
#include "ui/BrowserSettings.h"
#include "ui/ColumnBrowser.h"
#include "ui/ColumnBrowserDrops.h"
#include "ui/DownloadTableView.h"
#include "ui/EntryDeletion.h"
#include "ui/GestBrowser.h"
#include "ui/GestFTPBrowser.h"
#include "ui/GetNameDirController.h"
#include "ui/Images.h"
#include "ui/MainWindow.h"
#include "ui/TransferTableActions.h"
#include "ui/TransferTotals.h"
#include "ui/UploadTableView.h"

#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTableView>
#include <QToolButton>

#include <algorithm>

namespace zodaru {

namespace {

// How long a run of transfers must pause before the browser on its receiving side lists
// again; short enough that a file that just finished shows at once to a person.
constexpr int kRefreshSettleMs = 150;

struct SelectedEntry {
    QString name;
    bool directory = false;
};

// The selected entries, read before anything is changed: refreshing a column replaces its
// cells, so the cells themselves must not be used after the first refresh. A cell that
// opens a column is a directory (or, locally, a link to one).
QList<SelectedEntry> selectedEntries(const QList<CellFile *> &cells)
{
    QList<SelectedEntry> entries;
    entries.reserve(cells.size());
    for (const CellFile *cell : cells)
        entries.append({cell->getFile().name(), !cell->isLeaf()});
    return entries;
}

// The directory of the column that holds the selection. A selected directory opens its
// listing in the next column, so the last column is not where the selection is.
QString selectionDirectory(const ColumnBrowser &browser)
{
    return browser.pathToColumn(std::max(0, browser.selectedColumn()));
}

} // namespace

MainWindowController::MainWindowController(AppContext &app, QObject *parent)
    : QObject(parent)
    , app_(app)
{
    theWindow = std::make_unique<MainWindow>();
    theWindow->move(100, 100);
    theWindow->resize(640, 600);
    theWindow->setMinimumSize(400, 400);
    theWindow->layoutWindow();
    zlog("on est dans l'init du mainWindowController\n");

    localView = theWindow->localView();
    remoteView = theWindow->remoteView();
    lmkdir = theWindow->lmkdir();
    rmkdir = theWindow->rmkdir();
    ldelete = theWindow->ldelete();
    rdelete = theWindow->rdelete();
    Connect = theWindow->Connect();
    Bookmarks = theWindow->Bookmarks();
    Get = theWindow->Get();
    Put = theWindow->Put();
    Downloads = theWindow->Downloads();
    Uploads = theWindow->Uploads();

    // Sorted and filtered as the View menu says from the first listing on.
    BrowserSettings::instance().pairBrowsers(*localView, *remoteView);
    zlog("on mets les delegates");
    localDelegate_ = std::make_unique<GestBrowser>();
    localView->setDelegate(localDelegate_.get());
    zlog("on mets les delegates A");
    // Every browser row is a CellFile already; nothing to choose here.
    zlog("on mets les delegates A2");
    // After the delegate, so that the first load of the local columns goes through it.
    localView->setPath(QDir::currentPath());
    zlog("on mets les delegates B");

    remoteDelegate_ = std::make_unique<GestFTPBrowser>(app_);
    remoteView->setDelegate(remoteDelegate_.get());
    zlog("on mets les delegates C");

    downloadsSource_ = std::make_unique<DownloadTableView>(app_);
    Downloads->setModel(downloadsSource_.get());
    zlog("on mets les delegates D");
    uploadsSource_ = std::make_unique<UploadTableView>(app_);
    Uploads->setModel(uploadsSource_.get());
    downloadActions_ = std::make_unique<TransferTableActions>(*Downloads, app_,
                                                              AppContext::Direction::Download);
    uploadActions_ = std::make_unique<TransferTableActions>(*Uploads, app_, AppContext::Direction::Upload);
    showTotals(*downloadsSource_, *theWindow->downloadTotals());
    showTotals(*uploadsSource_, *theWindow->uploadTotals());
    localActions_ = std::make_unique<BrowserEntryActions>(*localView, BrowserEntryActions::Side::Local, *this, app_);
    remoteActions_ = std::make_unique<BrowserEntryActions>(*remoteView, BrowserEntryActions::Side::Remote, *this, app_);
    deletion_ = std::make_unique<EntryDeletion>(*this, app_, *localView, *remoteView);

    for (auto [settle, view] : {std::pair{&localSettle_, localView}, std::pair{&remoteSettle_, remoteView}}) {
        settle->setSingleShot(true);
        settle->setInterval(kRefreshSettleMs);
        connect(settle, &QTimer::timeout, this, [view] { view->reloadColumn(view->lastVisibleColumn()); });
    }

    zlog("on mets les actions");
    connectAction_ = &AppContext::getParametersOfConnection;
    connect(Connect, &QToolButton::clicked, this, &MainWindowController::connectPressed);
    connect(Get, &QToolButton::clicked, this, [this] { app_.getFile(); });
    connect(Put, &QToolButton::clicked, this, [this] { app_.putFile(); });
    connect(lmkdir, &QPushButton::clicked, this, &MainWindowController::createLocalDirectory);
    connect(rmkdir, &QPushButton::clicked, this, &MainWindowController::createRemoteDirectory);
    connect(ldelete, &QPushButton::clicked, this, &MainWindowController::deleteLocalFile);
    connect(rdelete, &QPushButton::clicked, this, &MainWindowController::deleteRemoteFile);

    // Entries dragged between the browsers, or from a file manager, become transfers.
    connectBrowserDrops(*this, *localView, *remoteView, app_);

    connect(Bookmarks, &QToolButton::clicked, this, [this] {
        if (SiteActions *sites = app_.siteActions())
            sites->openManager();
    });
    Bookmarks->setEnabled(app_.siteActions() != nullptr);
    Get->setEnabled(false);
    Put->setEnabled(false);

    theWindow->setWindowTitle(QStringLiteral("ZIVidur ADE Zodaru"));
}

MainWindowController::~MainWindowController() = default;

void MainWindowController::connectPressed()
{
    (app_.*connectAction_)();
}

void MainWindowController::showConnectState(const char *title, const char *image)
{
    Connect->setIcon(imageNamed(QString::fromLatin1(image)));
    Connect->setText(QCoreApplication::translate("MainWindow", title));
}

void MainWindowController::setDisconnected()
{
    zlog("==> On entre dans setDisconnected");
    showConnectState(QT_TRANSLATE_NOOP("MainWindow", "Disconnected"), "Disconnect.tiff");
    connectAction_ = &AppContext::getParametersOfConnection;
    state_ = ConnectionState::Disconnected;
    Get->setEnabled(false);
    Put->setEnabled(false);
    // Without a connected engine the remote browser's first column comes back empty.
    remoteView->reloadColumn(0);
    zlog("==> On quitte setDisconnected");
}

void MainWindowController::setDialing()
{
    // The action stays: pressing Connect while dialing opens another connection dialog.
    Connect->setText(QCoreApplication::translate("MainWindow", "Dialing"));
    Connect->setIcon(imageNamed(QStringLiteral("Connect-zoom.tiff")));
    state_ = ConnectionState::Dialing;
}

void MainWindowController::setConnected()
{
    zlog("On entre dans setConnected");
    showConnectState(QT_TRANSLATE_NOOP("MainWindow", "Connected"), "Connect.tiff");
    connectAction_ = &AppContext::disconnectFromFTP;
    state_ = ConnectionState::Connected;
    Get->setEnabled(true);
    Put->setEnabled(true);
    remoteView->reloadColumn(0);
    zlog("On quitte setConnected");
}

void MainWindowController::createLocalDirectory()
{
    zlog(" on veut creer une directory local\n");
    GetNameDirController::create(app_, false, theWindow.get())->showWindow();
}

void MainWindowController::createRemoteDirectory()
{
    zlog(" on veut creer une directory distant\n");
    GetNameDirController::create(app_, true, theWindow.get())->showWindow();
}

bool MainWindowController::acceptName(const QString &name)
{
    if (isPlainName(name))
        return true;
    zlog("Nom de fichier refuse : <%@>", name);
    tellUser(QCoreApplication::translate("MainWindow", "Refused name: \"%1\"").arg(displayedName(name)));
    return false;
}

void MainWindowController::tellUser(const QString &text)
{
    theWindow->statusBar()->showMessage(text);
}

QString MainWindowController::statusText() const
{
    return theWindow->statusBar()->currentMessage();
}

void MainWindowController::deleteLocalFile()
{
    const QList<SelectedEntry> entries = selectedEntries(localViewSelectedCells());
    const QString directory = localSelectionPath();
    zlog(" on veut effacer un ou des fichier(s) en local");
    QStringList names;
    for (const SelectedEntry &entry : entries)
        if (acceptName(entry.name))
            names << entry.name;
    deletion_->deleteLocal(directory, names, std::max(0, localView->selectedColumn()));
}

void MainWindowController::deleteRemoteFile()
{
    const QList<SelectedEntry> entries = selectedEntries(remoteViewSelectedCells());
    const QString directory = remoteSelectionPath();
    zlog(" on veut effacer un ou des fichier(s) distant");
    QStringList names;
    QList<bool> directories;
    for (const SelectedEntry &entry : entries) {
        if (!acceptName(entry.name))
            continue;
        names << entry.name;
        directories << entry.directory;
    }
    deletion_->deleteRemote(directory, names, directories, std::max(0, remoteView->selectedColumn()));
}

void MainWindowController::sendRemoteCommand(const QString &word, const QString &param)
{
    // Sent on the command engine's own thread; the listing refreshed right after is asked
    // after it, so it shows what the command did. A refusal fails this command only.
    const QString line = word + QLatin1Char(' ') + param;
    app_.remoteCommand(word, param, [line](int code) {
        if (code < 0)
            zlog("Commande non envoyee : %@", line);
        else if (code >= 400)
            zlog("Commande refusee par le serveur (%d) : %@", code, line);
    });
}

QList<CellFile *> MainWindowController::localViewSelectedCells() const
{
    zlog("On est dans localViewSelectedCells ");
    return localView->selectedCells();
}

QList<CellFile *> MainWindowController::remoteViewSelectedCells() const
{
    return remoteView->selectedCells();
}

QString MainWindowController::localPath() const
{
    const qint32 column = localView->lastVisibleColumn();
    zlog("Lastvisiblecolumn local : %d\n", column);
    return localView->pathToColumn(column);
}

QString MainWindowController::remotePath() const
{
    const qint32 column = remoteView->lastVisibleColumn();
    zlog("Lastvisiblecolumn remote : %d\n", column);
    return remoteView->pathToColumn(column);
}

QString MainWindowController::localSelectionPath() const
{
    return selectionDirectory(*localView);
}

QString MainWindowController::remoteSelectionPath() const
{
    return selectionDirectory(*remoteView);
}

void MainWindowController::refreshLocal()
{
    zlog("On est dans refreshLocal !");
    refreshSide(*localView, localSettle_, app_.downloadQueue());
    zlog("On quitte refreshLocal !");
}

void MainWindowController::refreshRemote()
{
    zlog("On est dans refreshRemote !");
    refreshSide(*remoteView, remoteSettle_, app_.uploadQueue());
    zlog("On quitte refreshRemote !");
}

void MainWindowController::refreshSide(ColumnBrowser &view, QTimer &settle, const QList<File> *filling)
{
    const bool runGoesOn =
        filling && std::any_of(filling->begin(), filling->end(), [](const File &entry) { return !entry.isDone(); });
    if (runGoesOn) {
        settle.start(); // again: the reload waits for the run to pause
        return;
    }
    settle.stop();
    view.reloadColumn(view.lastVisibleColumn());
}

void MainWindowController::refreshDownloadTable()
{
    downloadsSource_->reloadData();
}

void MainWindowController::refreshUploadTable()
{
    zlog("RefreshUploadTable()");
    uploadsSource_->reloadData();
}

} // namespace zodaru
