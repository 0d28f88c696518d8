// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BrowserEntryActions.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ui/AppContext.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QAction>
#include <QCoreApplication>
#include <QInputDialog>
#include <QMenu>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace zodaru {

namespace {

// The path of an entry of a directory, with one slash at the root.
QString joined(const QString &directory, const QString &name)
{
    return directory.endsWith(QLatin1Char('/')) ? directory + name : directory + QLatin1Char('/') + name;
}

// Renames without ever replacing: the kernel refuses an existing target. Where the file
// system cannot be asked that way, the target is looked at first.
int renameWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

} // namespace

BrowserEntryActions::BrowserEntryActions(ColumnBrowser &browser, Side side, MainWindowController &controller,
                                         AppContext &app, QObject *parent)
    : QObject(parent)
    , browser_(browser)
    , side_(side)
    , controller_(controller)
    , app_(app)
{
    const bool local = side == Side::Local;
    transfer_ = new QAction(local ? tr("Upload")
                                  : tr("Download"),
                            &browser_);
    rename_ = new QAction(tr("Rename…"), &browser_);
    delete_ = new QAction(tr("Delete…"), &browser_);
    newFolder_ = new QAction(tr("New folder…"), &browser_);
    rename_->setShortcut(QKeySequence(Qt::Key_F2));
    delete_->setShortcut(QKeySequence(Qt::Key_Delete));
    // The keys work wherever the focus is inside this browser, and only there.
    for (QAction *action : {transfer_, rename_, delete_, newFolder_}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        browser_.addAction(action);
    }
    connect(transfer_, &QAction::triggered, this, [this] { side_ == Side::Local ? app_.putFile() : app_.getFile(); });
    connect(rename_, &QAction::triggered, this, &BrowserEntryActions::askRename);
    connect(delete_, &QAction::triggered, this, [this] {
        side_ == Side::Local ? controller_.deleteLocalFile() : controller_.deleteRemoteFile();
    });
    connect(newFolder_, &QAction::triggered, this, [this] {
        side_ == Side::Local ? controller_.createLocalDirectory() : controller_.createRemoteDirectory();
    });
    // The keys follow the selection; the menu looks at the connection too when it opens.
    connect(&browser_, &ColumnBrowser::selectionChanged, this, &BrowserEntryActions::updateEnabled);
    connect(&browser_, &ColumnBrowser::columnsChanged, this, &BrowserEntryActions::updateEnabled);
    updateEnabled();
    browser_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&browser_, &QWidget::customContextMenuRequested, this, &BrowserEntryActions::showMenu);
}

void BrowserEntryActions::updateEnabled()
{
    const qsizetype selected = browser_.selectedCells().size();
    transfer_->setEnabled(selected > 0 && app_.isConnected());
    rename_->setEnabled(selected == 1);
    delete_->setEnabled(selected > 0);
    newFolder_->setEnabled(side_ == Side::Local || app_.isConnected());
}

void BrowserEntryActions::showMenu(const QPoint &pos)
{
    updateEnabled();
    auto *menu = new QMenu(&browser_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions({transfer_, rename_, delete_});
    menu->addSeparator();
    menu->addAction(newFolder_);
    menu->popup(browser_.mapToGlobal(pos));
}

void BrowserEntryActions::askRename()
{
    const QList<CellFile *> cells = browser_.selectedCells();
    if (cells.size() != 1) {
        controller_.tellUser(tr("Select one entry to rename."));
        return;
    }
    const QString name = cells.constFirst()->name();
    const int column = std::max(0, browser_.selectedColumn());
    const QString directory = browser_.pathToColumn(column);
    if (!controller_.acceptName(name))
        return;
    auto *dialog = new QInputDialog(controller_.window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Rename"));
    dialog->setLabelText(tr("New name for '%1':").arg(displayedName(name)));
    dialog->setTextValue(displayedName(name));
    connect(dialog, &QInputDialog::textValueSelected, this,
            [this, directory, name, column](const QString &text) { rename(directory, name, text, column); });
    dialog->open();
}

void BrowserEntryActions::refused(const QString &logLine, const QString &shown)
{
    zlog("%@", logLine);
    controller_.tellUser(shown);
}

void BrowserEntryActions::rename(const QString &directory, const QString &from, const QString &to, int column)
{
    // The dialog shows a name that is not UTF-8 as the user sees it; left as it was, it
    // names the entry itself, not a new name.
    if (to == from || to == displayedName(from))
        return;
    if (!controller_.acceptName(to))
        return;
    if (side_ == Side::Local)
        renameLocal(directory, from, to, column);
    else
        renameRemote(directory, from, to, column);
}

void BrowserEntryActions::renameLocal(const QString &directory, const QString &from, const QString &to, int column)
{
    zlog(" on veut renommer en local : %@ en %@", joined(directory, from), joined(directory, to));
    const int error = renameWithoutReplacing(bytesOfName(joined(directory, from)), bytesOfName(joined(directory, to)));
    if (error == EEXIST || error == ENOTEMPTY)
        refused(QStringLiteral("Renommage refuse, le nom existe deja : <%1>").arg(to),
                tr("'%1' already exists there: nothing was renamed.").arg(displayedName(to)));
    else if (error != 0)
        refused(QStringLiteral("Renommage refuse : <%1> (%2)").arg(from, QString::fromLocal8Bit(std::strerror(error))),
                tr("Could not rename '%1': %2").arg(displayedName(from), QString::fromLocal8Bit(std::strerror(error))));
    browser_.reloadColumn(column);
}

void BrowserEntryActions::renameRemote(const QString &directory, const QString &from, const QString &to, int column)
{
    // Servers replace an existing target on RNTO without a word: the name is checked
    // against a fresh listing first.
    const QPointer<BrowserEntryActions> self(this);
    app_.listRemote(directory, [self, directory, from, to, column](const std::optional<QList<File>> &entries) {
        if (!self)
            return;
        if (!entries) {
            self->refused(QStringLiteral("Renommage abandonne, listing impossible : %1").arg(directory),
                          tr("Could not list '%1': nothing was renamed.").arg(displayedName(directory)));
            return;
        }
        const bool taken = std::any_of(entries->begin(), entries->end(), [&](const File &f) { return f.name() == to; });
        if (taken) {
            self->refused(QStringLiteral("Renommage refuse, le nom existe deja : <%1>").arg(to),
                          tr("'%1' already exists there: nothing was renamed.").arg(displayedName(to)));
            return;
        }
        const QString source = joined(directory, from);
        const QString target = joined(directory, to);
        zlog(" on envoie au ftp la commande : %@\n", QStringLiteral("RNFR ") + source);
        zlog(" on envoie au ftp la commande : %@\n", QStringLiteral("RNTO ") + target);
        self->app_.remoteRename(source, target, [self, from, column](AppContext::RenameReplies replies) {
            if (!self)
                return;
            if (!replies.done()) {
                const int code = replies.from == 350 ? replies.to : replies.from;
                self->refused(QStringLiteral("Renommage refuse par le serveur (%1) : %2").arg(code).arg(from),
                              tr("The server refused to rename '%1' (%2).").arg(displayedName(from)).arg(code));
            }
            self->browser_.reloadColumn(column);
        });
    });
}

} // namespace zodaru
