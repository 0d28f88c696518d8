// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BrowserSettings.h"

#include "model/SiteSettings.h"
#include "ui/ColumnBrowser.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QSettings>

namespace zodaru {

namespace {

// The one settings file of the program, which the sites' fields share.
QSettings userSettings()
{
    return QSettings(SiteSettings::defaultPath(), QSettings::IniFormat);
}

} // namespace

BrowserSettings &BrowserSettings::instance()
{
    static BrowserSettings settings;
    return settings;
}

BrowserSettings::BrowserSettings()
{
    QSettings settings = userSettings();
    settings.beginGroup(QStringLiteral("Browsers"));
    const ListOptions defaults;
    options_.directoriesFirst = settings.value(QStringLiteral("directoriesFirst"), defaults.directoriesFirst).toBool();
    options_.showHidden = settings.value(QStringLiteral("showHidden"), defaults.showHidden).toBool();
}

void BrowserSettings::setDirectoriesFirst(bool first)
{
    ListOptions options = options_;
    options.directoriesFirst = first;
    store(options);
}

void BrowserSettings::setShowHidden(bool show)
{
    ListOptions options = options_;
    options.showHidden = show;
    store(options);
}

void BrowserSettings::fillViewMenu(QMenu &menu)
{
    QAction *first = menu.addAction(tr("Folders First"));
    first->setCheckable(true);
    first->setChecked(options_.directoriesFirst);
    connect(first, &QAction::toggled, this, &BrowserSettings::setDirectoriesFirst);
    QAction *hidden = menu.addAction(tr("Show Hidden Files"));
    hidden->setCheckable(true);
    hidden->setChecked(options_.showHidden);
    hidden->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(hidden, &QAction::toggled, this, &BrowserSettings::setShowHidden);
    connect(this, &BrowserSettings::changed, first, [first, hidden](const ListOptions &options) {
        first->setChecked(options.directoriesFirst);
        hidden->setChecked(options.showHidden);
    });
}

void BrowserSettings::pairBrowsers(ColumnBrowser &local, ColumnBrowser &remote)
{
    for (ColumnBrowser *browser : {&local, &remote}) {
        browser->setListOptions(options_);
        connect(this, &BrowserSettings::changed, browser, &ColumnBrowser::setListOptions);
    }
    local.setCounterpart(&remote);
    remote.setCounterpart(&local);
}

void BrowserSettings::store(const ListOptions &options)
{
    if (options == options_)
        return;
    options_ = options;
    QSettings settings = userSettings();
    settings.beginGroup(QStringLiteral("Browsers"));
    settings.setValue(QStringLiteral("directoriesFirst"), options.directoriesFirst);
    settings.setValue(QStringLiteral("showHidden"), options.showHidden);
    Q_EMIT changed(options_);
}

} // namespace zodaru
