// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GetNameDirController.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ui/AppContext.h"
#include "ui/GetNameWindow.h"
#include "ui/MainWindowController.h"

#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>

namespace zodaru {

GetNameDirController *GetNameDirController::create(AppContext &app, bool remote,
                                                   QWidget *parentWindow)
{
    auto *panel = new GetNameWindow(parentWindow);
    // finished() comes with every way of closing a dialog; the panel takes its controller
    // (a child object) with it.
    QObject::connect(panel, &QDialog::finished, panel, &QObject::deleteLater);
    return new GetNameDirController(app, remote, panel);
}

GetNameDirController::GetNameDirController(AppContext &app, bool remote, GetNameWindow *panel)
    : QObject(panel)
    , app_(app)
    , window_(panel)
{
    window_->layoutWindow();
    name = window_->name();
    go = window_->go();
    type = remote ? 1 : 0;
    QWidget::setTabOrder(name, go);
    QWidget::setTabOrder(go, window_->cancel());
    QWidget::setTabOrder(window_->cancel(), name);
    window_->setWindowTitle(QStringLiteral("Create Directory"));
    connect(go, &QPushButton::clicked, this, &GetNameDirController::makedir);
    // Closing the panel this way makes nothing; like the close button and Escape, it only
    // frees the panel.
    connect(window_->cancel(), &QPushButton::clicked, window_, &QDialog::reject);
}

GetNameDirController::~GetNameDirController() = default;

void GetNameDirController::showWindow()
{
    window_->show();
    window_->raise();
    window_->activateWindow();
    name->setFocus();
}

void GetNameDirController::makedir()
{
    const QString text = name->text();
    zlog("On est dans le makedir ... \n");
    zlog("Nom du repertoire : %@\n", text);
    // Closing only schedules the panel's deletion: this controller lives to the end of the
    // action.
    window_->accept();

    MainWindowController *main = app_.window();
    if (!main)
        return;
    // One new entry inside the directory shown, nothing elsewhere.
    if (!main->acceptName(text))
        return;
    // The directory is the one shown now, not when the panel was opened.
    if (type) {
        const QString path = main->remotePath() + QLatin1Char('/') + text;
        zlog("on envoie au ftp la commande : %@\n", QStringLiteral("MKD ") + path);
        main->sendRemoteCommand(QStringLiteral("MKD"), path);
        main->refreshRemote();
    } else {
        const QString path = main->localPath() + QLatin1Char('/') + text;
        zlog("on veut creer le repertoire %@\n", path);
        // Failure (existing name, no permission) shows as an unchanged listing.
        ::mkdir(bytesOfName(path).constData(), 0700);
        main->refreshLocal();
    }
}

} // namespace zodaru
