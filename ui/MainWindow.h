// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <QString>

class QLabel;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTableView;
class QToolButton;

namespace zodaru {

class ColumnBrowser;
class LogPane;

// The main window: a row of four image buttons on top; below it a vertical splitter with
// the two file browsers and the four small buttons between them above, and the download
// and upload tables in two tabs below. It only builds and lays out its controls; what they
// do is wired by its controller.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    Q_DISABLE_COPY_MOVE(MainWindow)

    // Creates every control. Called once, right after construction.
    void layoutWindow();

    ColumnBrowser *localView() const { return localView_; }
    ColumnBrowser *remoteView() const { return remoteView_; }
    QPushButton *lmkdir() const { return lmkdir_; }
    QPushButton *rmkdir() const { return rmkdir_; }
    QPushButton *ldelete() const { return ldelete_; }
    QPushButton *rdelete() const { return rdelete_; }
    QToolButton *Connect() const { return Connect_; }
    QToolButton *Bookmarks() const { return Bookmarks_; }
    QToolButton *Get() const { return Get_; }
    QToolButton *Put() const { return Put_; }
    QTableView *Downloads() const { return Downloads_; }
    QTableView *Uploads() const { return Uploads_; }
    // The totals line under each table.
    QLabel *downloadTotals() const { return downloadTotals_; }
    QLabel *uploadTotals() const { return uploadTotals_; }

    QSplitter *splitView() const { return splitView_; }
    QWidget *browserPane() const { return browserPane_; }
    QTabWidget *transferTabs() const { return transferTabs_; }
    LogPane *logPane() const { return logPane_; }

    // How the session's control connection is protected, shown at the right of the status
    // bar: nothing outside a session, "Not encrypted" in warning colours, or "Encrypted"
    // with what the application says of the protocol and cipher.
    enum class Security { NoSession, Clear, Encrypted };
    void showSecurity(Security security, const QString &detail = QString());
    QLabel *securityLabel() const { return security_; } // null before the first session

    // The narrowest a transfer table column with this identifier may become.
    static int minimumColumnWidth(const QString &identifier);

private:
    ColumnBrowser *localView_ = nullptr;
    ColumnBrowser *remoteView_ = nullptr;
    QPushButton *lmkdir_ = nullptr;
    QPushButton *rmkdir_ = nullptr;
    QPushButton *ldelete_ = nullptr;
    QPushButton *rdelete_ = nullptr;
    QToolButton *Connect_ = nullptr;
    QToolButton *Bookmarks_ = nullptr;
    QToolButton *Get_ = nullptr;
    QToolButton *Put_ = nullptr;
    QTableView *Downloads_ = nullptr;
    QTableView *Uploads_ = nullptr;
    QLabel *downloadTotals_ = nullptr;
    QLabel *uploadTotals_ = nullptr;

    QSplitter *splitView_ = nullptr;
    QWidget *browserPane_ = nullptr;
    QTabWidget *transferTabs_ = nullptr;
    LogPane *logPane_ = nullptr;
    QLabel *security_ = nullptr;
};

} // namespace zodaru
