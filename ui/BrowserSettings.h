// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/ColumnOrder.h"

#include <QObject>

class QMenu;

namespace zodaru {

class ColumnBrowser;

// The View menu's choices for both browsers, remembered in the user's settings
// (~/.config/Zodaru/Zodaru.conf, group "Browsers"). One per process; main thread only.
class BrowserSettings final : public QObject {
    Q_OBJECT
public:
    static BrowserSettings &instance();

    ListOptions options() const { return options_; }
    void setDirectoriesFirst(bool first);
    void setShowHidden(bool show);

    // The View menu's entries: "Folders First" and "Show Hidden Files" (Ctrl+H), checked
    // as the settings are and kept so.
    void fillViewMenu(QMenu &menu);
    // Both browsers of the window take the settings now and at every change, and each
    // compares its previewed file with the other's open directory.
    void pairBrowsers(ColumnBrowser &local, ColumnBrowser &remote);

Q_SIGNALS:
    void changed(const zodaru::ListOptions &options);

private:
    BrowserSettings();
    void store(const ListOptions &options);

    ListOptions options_;
};

} // namespace zodaru
