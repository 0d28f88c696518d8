// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

#include <QMessageBox>

namespace zodaru {

class AppContext;
class ColumnBrowser;
class LocalTreeDeletion;
class MainWindowController;
class RemoteTreeDelete;

// The deletions of the main window: finds out what the chosen entries hold (the local disk
// off the main thread, the server through the command engine), asks the user, naming what
// goes (askDeletion), and only then deletes; the browser's column that showed the entries
// is listed again at the end. A failure stops the deletion and says where it stopped, in
// the status bar and the log. One deletion per side at a time.
// Main thread only.
class EntryDeletion final : public QObject {
    Q_OBJECT
public:
    // Where local entries may go to the desktop's Trash; by default trashCanTake().
    // Called off the main thread.
    using TrashCheck = std::function<bool(const QString &directory)>;

    EntryDeletion(MainWindowController &controller, AppContext &app, ColumnBrowser &local, ColumnBrowser &remote,
                  QObject *parent = nullptr);
    ~EntryDeletion() override;
    Q_DISABLE_COPY_MOVE(EntryDeletion)

    // `names` are plain names of entries of `directory`, shown in `column` of the browser;
    // directories are found out here.
    void deleteLocal(const QString &directory, const QStringList &names, int column);
    // `directories` tells which of `names` the browser shows as directories.
    void deleteRemote(const QString &directory, const QStringList &names, const QList<bool> &directories,
                      int column);

    void setTrashCheck(TrashCheck check) { trashCheck_ = std::move(check); }
    // The question now open, or null.
    QMessageBox *question() const { return question_; }
    bool isBusy() const;

private:
    bool refuseWhileBusy(const QObject *running);

    MainWindowController &controller_;
    AppContext &app_;
    ColumnBrowser &localView_;
    ColumnBrowser &remoteView_;
    TrashCheck trashCheck_;
    QPointer<LocalTreeDeletion> local_;
    QPointer<RemoteTreeDelete> remote_;
    QPointer<QMessageBox> question_;
};

} // namespace zodaru
