// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/EntryDeletion.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ui/ColumnBrowser.h"
#include "ui/ConfirmDeletion.h"
#include "ui/LocalTreeDeletion.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/RemoteTreeDelete.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <cstring>

namespace zodaru {

EntryDeletion::EntryDeletion(MainWindowController &controller, AppContext &app, ColumnBrowser &local,
                             ColumnBrowser &remote, QObject *parent)
    : QObject(parent)
    , controller_(controller)
    , app_(app)
    , localView_(local)
    , remoteView_(remote)
    , trashCheck_(&trashCanTake)
{
}

// The jobs are children: a local one stops its thread and waits for it as it goes.
EntryDeletion::~EntryDeletion() = default;

bool EntryDeletion::isBusy() const
{
    return local_ || remote_;
}

bool EntryDeletion::refuseWhileBusy(const QObject *running)
{
    if (!running)
        return false;
    controller_.tellUser(QCoreApplication::translate("EntryDeletion", "A deletion is still under way."));
    return true;
}

void EntryDeletion::deleteLocal(const QString &directory, const QStringList &names, int column)
{
    if (names.isEmpty() || refuseWhileBusy(local_))
        return;
    auto *job = new LocalTreeDeletion(directory, names, trashCheck_, this);
    local_ = job;
    job->survey([this, job, directory, column](const LocalTreeDeletion::Survey &found) {
        if (found.present.isEmpty()) {
            job->deleteLater();
            localView_.reloadColumn(column);
            return;
        }
        const DeletionSummary summary{found.present, found.oneDirectory, found.inside,
                                      found.trash ? DeletionSummary::Undo::Trash : DeletionSummary::Undo::Never};
        question_ = askDeletion(controller_.window(), summary, [this, job, directory, column, found] {
            for (const QString &name : found.present)
                zlog(" on veut effacer le fichier : %@\n", directory + QLatin1Char('/') + name);
            job->run([this, job, column](const LocalDeleteResult &result) {
                job->deleteLater();
                localView_.reloadColumn(column);
                if (result.ok())
                    return;
                const QString reason = result.failure == LocalDeleteFailure::TrashRefused
                                           ? QCoreApplication::translate("EntryDeletion", "the Trash did not take it")
                                           : QString::fromLocal8Bit(std::strerror(result.error));
                zlog("Effacement local arrete a <%@> (%@)", result.where, reason);
                controller_.tellUser(QCoreApplication::translate("EntryDeletion", "Stopped at '%1': %2.")
                                         .arg(displayedName(result.where), reason));
            });
        });
        // Cancelled: the job goes with the question.
        connect(question_, &QObject::destroyed, job, [job] {
            if (!job->isRunning())
                job->deleteLater();
        });
    });
}

void EntryDeletion::deleteRemote(const QString &directory, const QStringList &names, const QList<bool> &directories,
                                 int column)
{
    if (names.isEmpty() || refuseWhileBusy(remote_))
        return;
    QList<RemoteTreeDelete::Entry> entries;
    bool oneDirectory = false;
    for (qsizetype i = 0; i < names.size(); ++i) {
        entries.append({names[i], directories.value(i)});
        oneDirectory = directories.value(i);
    }
    oneDirectory = oneDirectory && names.size() == 1;
    auto *job = new RemoteTreeDelete(app_, directory, entries, this);
    remote_ = job;
    job->survey([this, job, names, oneDirectory, column](const TreeCount &inside,
                                                        const RemoteTreeDelete::Outcome &failure) {
        if (failure.stop != RemoteTreeDelete::Stop::None) {
            job->deleteLater();
            controller_.tellUser(QCoreApplication::translate("EntryDeletion", "Could not list '%1': nothing was deleted.")
                                     .arg(displayedName(failure.where)));
            return;
        }
        const DeletionSummary summary{names, oneDirectory, inside, DeletionSummary::Undo::Remote};
        question_ = askDeletion(controller_.window(), summary, [this, job, column] {
            job->run([this, job, column](const RemoteTreeDelete::Outcome &outcome) {
                job->deleteLater();
                remoteView_.reloadColumn(column);
                if (outcome.stop == RemoteTreeDelete::Stop::None)
                    return;
                if (outcome.code < 0) {
                    controller_.tellUser(
                        QCoreApplication::translate("EntryDeletion",
                                                    "No answer from the server about '%1': stopped there, after %2 deleted.")
                            .arg(displayedName(outcome.where))
                            .arg(outcome.done));
                    return;
                }
                controller_.tellUser(
                    QCoreApplication::translate("EntryDeletion",
                                                "The server refused to delete '%1' (%2): stopped there, after %3 deleted.")
                        .arg(displayedName(outcome.where))
                        .arg(outcome.code)
                        .arg(outcome.done));
            });
        });
        connect(question_, &QObject::destroyed, job, [job] {
            if (!job->isRunning())
                job->deleteLater();
        });
    });
}

} // namespace zodaru
