// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace zodaru {

class AppContext;
class ColumnBrowser;
class MainWindowController;

// Turns drops into transfers, main thread only: the remote browser's entries dropped onto
// the local one are got (AppContext::getEntries) into the directory dropped onto, the local
// ones dropped onto the remote browser are put (putEntries), and so are the files and
// folders a file manager drops onto the remote browser, one putEntries per directory that
// holds some. Only while connected; otherwise, and for URLs that are not local files, the
// window's status line says what was left. Drags out of the browsers offer other programs
// file:// URLs (local) or ftp:// URLs of the site (remote). The connections live as long
// as `window`.
void connectBrowserDrops(MainWindowController &window, ColumnBrowser &local, ColumnBrowser &remote, AppContext &app);

} // namespace zodaru
