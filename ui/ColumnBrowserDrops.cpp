// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnBrowserDrops.h"

#include "base/Log.h"
#include "ui/AppContext.h"
#include "ui/ColumnBrowser.h"
#include "ui/EntryDrag.h"
#include "ui/MainWindowController.h"

#include <QCoreApplication>

namespace zodaru {

namespace {

bool connectedOrSaid(MainWindowController &window, const AppContext &app)
{
    if (app.isConnected())
        return true;
    zlog("Depot refuse : pas de connexion");
    window.tellUser(QCoreApplication::translate("MainWindow", "Not connected: nothing dropped was transferred"));
    return false;
}

} // namespace

void connectBrowserDrops(MainWindowController &window, ColumnBrowser &local, ColumnBrowser &remote, AppContext &app)
{
    local.setUrlMaker([](const QString &path) { return localFileUrl(path); });
    // A remote entry dropped onto a file manager is fetched by the file manager itself, its
    // own download over its own connection: it gets ftp:// URLs with the user name and
    // asks for the password, which never leaves this program.
    remote.setUrlMaker([&app](const QString &path) { return remoteFileUrl(app.remoteSite(), path); });
    remote.setAcceptsUrls(true);

    QObject::connect(&local, &ColumnBrowser::entriesDropped, &window,
                     [&window, &remote, &app](const EntryDrag &drag, const QString &directory) {
                         if (drag.origin != remote.dragOrigin() || !connectedOrSaid(window, app))
                             return;
                         zlog("Depot de %d entree(s) distante(s) de <%@> vers <%@>", int(drag.entries.size()),
                              drag.directory, directory);
                         app.getEntries(drag.directory, drag.entries, directory);
                     });
    QObject::connect(&remote, &ColumnBrowser::entriesDropped, &window,
                     [&window, &local, &app](const EntryDrag &drag, const QString &directory) {
                         if (drag.origin != local.dragOrigin() || !connectedOrSaid(window, app))
                             return;
                         zlog("Depot de %d entree(s) locale(s) de <%@> vers <%@>", int(drag.entries.size()),
                              drag.directory, directory);
                         app.putEntries(drag.directory, drag.entries, directory);
                     });
    QObject::connect(&remote, &ColumnBrowser::urlsDropped, &window,
                     [&window, &app](const QList<QUrl> &urls, const QString &directory) {
                         if (!connectedOrSaid(window, app))
                             return;
                         const DroppedFiles dropped = droppedFilesOf(urls);
                         for (const DroppedGroup &group : dropped.groups) {
                             zlog("Depot de %d fichier(s) de <%@> vers <%@>", int(group.entries.size()),
                                  group.directory, directory);
                             app.putEntries(group.directory, group.entries, directory);
                         }
                         if (dropped.notLocal > 0) {
                             zlog("Depot : %d adresse(s) qui ne sont pas des fichiers locaux ignoree(s)",
                                  dropped.notLocal);
                             window.tellUser(QCoreApplication::translate(
                                 "MainWindow", "Only local files can be uploaded: %n dropped item(s) ignored", nullptr,
                                 dropped.notLocal));
                         } else if (dropped.missing > 0) {
                             zlog("Depot : %d fichier(s) introuvable(s)", dropped.missing);
                             window.tellUser(QCoreApplication::translate(
                                 "MainWindow", "%n dropped item(s) not found", nullptr, dropped.missing));
                         }
                     });
}

} // namespace zodaru
