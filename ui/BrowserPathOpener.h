// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace zodaru {

class ColumnBrowser;

// Opens a path in a browser whose columns fill in later (the remote one, whose listings
// arrive on later passes of the event loop): whenever the next column holds its entries,
// the next component of the path is selected there. Ends, deleting itself, once the path
// is open, a component is not listed (or the listing failed), the browser is gone, or
// after a minute; `done` tells which.
//
// Main thread only.
class BrowserPathOpener final : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(bool opened)>;
    // Starts at once; the opener belongs to `browser` (it goes when the browser goes).
    static BrowserPathOpener *open(ColumnBrowser &browser, const QString &path, Done done);

private:
    BrowserPathOpener(ColumnBrowser &browser, const QString &path, Done done);
    void step();
    void finish(bool opened);

    QPointer<ColumnBrowser> browser_;
    QStringList components_;
    Done done_;
    QTimer tick_;
    int ticksLeft_ = 0;
};

} // namespace zodaru
