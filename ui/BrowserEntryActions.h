// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

class QAction;

namespace zodaru {

class AppContext;
class ColumnBrowser;
class MainWindowController;

// What a user does to the entries of one browser besides opening them: a context menu
// (Download or Upload, Rename, Delete, New folder) and the keys F2 (Rename) and Delete,
// all acting on the browser's selection. Renaming asks for the new name in a small dialog
// that blocks nothing; the name must be plain (isPlainName) and not taken in that
// directory, and nothing is ever replaced: locally the rename itself refuses an existing
// name, remotely the directory is listed first and RNFR/RNTO sent only when the name is free.
// Main thread only.
class BrowserEntryActions final : public QObject {
    Q_OBJECT
public:
    enum class Side { Local, Remote };

    BrowserEntryActions(ColumnBrowser &browser, Side side, MainWindowController &controller, AppContext &app,
                        QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(BrowserEntryActions)

    QAction *transferAction() const { return transfer_; }
    QAction *renameAction() const { return rename_; }
    QAction *deleteAction() const { return delete_; }
    QAction *newFolderAction() const { return newFolder_; }

    // F2: opens the rename dialog for the one selected entry.
    void askRename();
    // Renames `from` to `to` in `directory`, then lists the column `column` again.
    void rename(const QString &directory, const QString &from, const QString &to, int column);

private:
    void updateEnabled();
    void showMenu(const QPoint &pos);
    void renameLocal(const QString &directory, const QString &from, const QString &to, int column);
    void renameRemote(const QString &directory, const QString &from, const QString &to, int column);
    void refused(const QString &logLine, const QString &shown);

    ColumnBrowser &browser_;
    Side side_;
    MainWindowController &controller_;
    AppContext &app_;
    QAction *transfer_ = nullptr;
    QAction *rename_ = nullptr;
    QAction *delete_ = nullptr;
    QAction *newFolder_ = nullptr;
};

} // namespace zodaru
