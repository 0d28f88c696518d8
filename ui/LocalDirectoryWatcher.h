// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

namespace zodaru {

class ColumnBrowser;

// Keeps a local browser's columns in step with the disk: watches the directory of every
// column and the file in the preview, and reads a column again in place when its
// directory changed (a file created, changed, renamed or removed). Changes that come in a
// burst (a copy writing many files) are read once, a moment after the first.
// Main thread only.
class LocalDirectoryWatcher final : public QObject {
    Q_OBJECT
public:
    explicit LocalDirectoryWatcher(ColumnBrowser &browser, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(LocalDirectoryWatcher)

    ColumnBrowser *browser() const { return browser_; }

    static constexpr int kSettleMs = 150;

private:
    void follow();
    void changed(const QString &path);
    void refresh();

    QPointer<ColumnBrowser> browser_;
    QFileSystemWatcher watcher_;
    QSet<QString> changed_;
    QString previewed_;
    QTimer settle_;
};

} // namespace zodaru
