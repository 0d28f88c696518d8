// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "ui/ColumnBrowser.h"

#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace zodaru {

class AppContext;

// The remote side of the file browsers: each column lists a directory on the server
// through the application, which answers on a later pass of the event loop. Until then
// the column shows one busy row; a listing that failed shows one row saying so. Links are
// shown in italics and open nothing. A large listing is put in name order on a pool thread
// before it fills its column, so that the window's thread does not sort it.
class GestFTPBrowser final : public QObject, public ColumnBrowserDelegate {
    Q_OBJECT
public:
    explicit GestFTPBrowser(AppContext &app, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(GestFTPBrowser)

    int numberOfRowsInColumn(ColumnBrowser &browser, int column) override;
    void willDisplayCell(ColumnBrowser &browser, CellFile &cell, int row, int column) override;
    QString titleOfColumn(ColumnBrowser &browser, int column) override;
    std::vector<int> rowsByName(ColumnBrowser &browser, int column) override;

    // Listings from this many entries on are sorted beside the window's thread.
    static constexpr qsizetype kSortAside = 5000;

    // The listing of the column counted last, without the rows that name nothing.
    const QList<File> &listing() const { return files; }

    // The texts of the placeholder rows, in the user's language.
    static QString loadingText();
    static QString failedText();

private:
    // The listing asked for a column; `arrived` once the application answered.
    struct Request {
        QString path;
        quint64 token = 0;
        bool arrived = false;
        std::optional<QList<File>> entries;
        // The entries in name order, once sorted aside; empty otherwise.
        std::vector<int> byName;
    };
    enum class Shown { Entries, Loading, Failed };

    void requestListing(ColumnBrowser &browser, int column, const QString &path);
    void listingArrived(ColumnBrowser *browser, int column, Request answer);
    // Puts the entries in name order on a pool thread, then hands them to listingArrived.
    void sortAside(ColumnBrowser *browser, int column, Request answer);

    AppContext &app_;
    QList<File> files;
    std::vector<int> byName_; // of `files`, when sorted aside
    Shown shown_ = Shown::Entries;
    // By column: only the latest request of a column may fill it.
    std::map<int, Request> requests_;
    quint64 lastToken_ = 0;
};

} // namespace zodaru
