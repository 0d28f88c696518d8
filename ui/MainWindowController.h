// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QPushButton;
class QTableView;
class QToolButton;

namespace zodaru {

class AppContext;
class BrowserEntryActions;
class CellFile;
class ColumnBrowser;
class DownloadTableView;
class EntryDeletion;
class File;
class GestBrowser;
class GestFTPBrowser;
class MainWindow;
class TransferTableActions;
class UploadTableView;

// Builds the main window and wires it: shows the connection state on the Connect button,
// makes and deletes entries on either side, and tells the application controller which
// directories the browsers show and what is selected in them.
class MainWindowController final : public QObject {
    Q_OBJECT
public:
    enum class ConnectionState { Disconnected, Dialing, Connected };

    explicit MainWindowController(AppContext &app, QObject *parent = nullptr);
    ~MainWindowController() override;
    Q_DISABLE_COPY_MOVE(MainWindowController)

    MainWindow *window() const { return theWindow.get(); }
    ConnectionState connectionState() const { return state_; }

    void setDisconnected();
    void setDialing();
    void setConnected();

    void createLocalDirectory();
    void createRemoteDirectory();
    // Delete the selected entries, directories with what they hold, once the user agreed
    // (EntryDeletion); the Delete key and the browsers' menus do the same.
    void deleteLocalFile();
    void deleteRemoteFile();
    EntryDeletion &deletion() const { return *deletion_; }
    // The context menus and keys of the browsers' entries (rename among them).
    BrowserEntryActions &localEntryActions() const { return *localActions_; }
    BrowserEntryActions &remoteEntryActions() const { return *remoteActions_; }

    QList<CellFile *> localViewSelectedCells() const;
    QList<CellFile *> remoteViewSelectedCells() const;
    QString localPath() const;
    QString remotePath() const;
    // The directory of the column that holds the selected cells (that of the first column
    // when nothing is selected): the directory of the entries an action on the selection
    // is about. localPath()/remotePath() are where new entries go.
    QString localSelectionPath() const;
    QString remoteSelectionPath() const;

    // Sends one command on the command engine, off the main thread, and logs a refusal
    // when the reply comes; the application closes the session if the connection is lost.
    void sendRemoteCommand(const QString &word, const QString &param);
    // True when `name` may be joined to a directory (isPlainName); otherwise logs the
    // refusal, tells the user, and returns false.
    bool acceptName(const QString &name);
    // A line for the user in the window's status bar; it blocks nothing.
    void tellUser(const QString &text);
    QString statusText() const;

    // Reload the last visible column of a browser. While the queue that fills that side
    // (downloads for the local one, uploads for the remote one) still has entries to run,
    // a request only schedules one reload for when the run has been quiet for a moment: a
    // thousand finished files then list the directory once, not a thousand times.
    void refreshLocal();
    void refreshRemote();
    void refreshDownloadTable();
    void refreshUploadTable();

private:
    void showConnectState(const char *title, const char *image);
    void refreshSide(ColumnBrowser &view, QTimer &settle, const QList<File> *filling);
    void connectPressed();

    AppContext &app_;

    // Declared before the window so that they outlive it: the browsers and tables refer to
    // them until the very end.
    std::unique_ptr<GestBrowser> localDelegate_;
    std::unique_ptr<GestFTPBrowser> remoteDelegate_;
    std::unique_ptr<DownloadTableView> downloadsSource_;
    std::unique_ptr<UploadTableView> uploadsSource_;

    // Controls inside theWindow, not owned.
    ColumnBrowser *localView = nullptr;
    ColumnBrowser *remoteView = nullptr;
    QPushButton *lmkdir = nullptr;
    QPushButton *rmkdir = nullptr;
    QPushButton *ldelete = nullptr;
    QPushButton *rdelete = nullptr;
    QToolButton *Connect = nullptr;
    QToolButton *Bookmarks = nullptr;
    QToolButton *Get = nullptr;
    QToolButton *Put = nullptr;
    QTableView *Downloads = nullptr;
    QTableView *Uploads = nullptr;
    std::unique_ptr<MainWindow> theWindow;
    // After the window: they leave before the tables that they watch.
    std::unique_ptr<TransferTableActions> downloadActions_;
    std::unique_ptr<TransferTableActions> uploadActions_;
    std::unique_ptr<BrowserEntryActions> localActions_;
    std::unique_ptr<BrowserEntryActions> remoteActions_;
    std::unique_ptr<EntryDeletion> deletion_;

    // Reloads held back while a run of transfers goes on (refreshLocal, refreshRemote).
    QTimer localSettle_;
    QTimer remoteSettle_;

    // What the Connect button does now: open the connection dialog, or disconnect.
    void (AppContext::*connectAction_)() = nullptr;
    ConnectionState state_ = ConnectionState::Disconnected;
};

} // namespace zodaru
