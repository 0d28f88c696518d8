// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MyDelegate.h"
#include "model/TransferSettings.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"

#include "support/Fixtures.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QToolButton>

#include <QMap>

#include <algorithm>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zodaru::test {

// The whole program as a user meets it: the application controller started the way the
// entry point starts it, in a private home (see ServedHome: no saved sites and no trusted
// certificates unless a test puts some there), driven through its real widgets offscreen.
// The one place the tests reach the application controller from.
// One line of a Unix-style listing, CR LF ended, as the scripted servers of these tests send.
inline QByteArray unixLine(const QByteArray &name, qint64 size = 5, const QByteArray &mode = "-rw-r--r--")
{
    return mode + " 1 u g " + QByteArray::number(size) + " Jan  1  2020 " + name + "\r\n";
}

class AppHarness final : public ServedHome {
public:
    // --- Trees of files, by their bytes ---
    // One entry of a tree made for a test, by its path under the tree's root: a directory,
    // a file holding `content`, or a symbolic link to `content`.
    struct TreeEntry {
        enum class Kind { Directory, File, Link };
        Kind kind;
        QByteArray path;
        QByteArray content;
    };
    // Makes `entries` under `root` (parents listed before what they hold); false on the
    // first that cannot be made.
    static bool makeTree(const QString &root, const QList<TreeEntry> &entries)
    {
        const QByteArray base = QFile::encodeName(root) + '/';
        for (const TreeEntry &entry : entries) {
            const QByteArray path = base + entry.path;
            bool made = false;
            if (entry.kind == TreeEntry::Kind::Directory) {
                made = ::mkdir(path.constData(), 0755) == 0;
            } else if (entry.kind == TreeEntry::Kind::Link) {
                made = ::symlink(entry.content.constData(), path.constData()) == 0;
            } else {
                const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                made = fd >= 0 && ::write(fd, entry.content.constData(), size_t(entry.content.size()))
                                      == ssize_t(entry.content.size());
                if (fd >= 0)
                    ::close(fd);
            }
            if (!made)
                return false;
        }
        return true;
    }
    // What treeOf() says of a file holding `content`: "file", its size and its SHA-256.
    static QByteArray fileFacts(const QByteArray &content)
    {
        return "file " + QByteArray::number(content.size()) + ' '
            + QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    }
    // The tree under `path`, by the bytes of each entry's path under it: "dir" for a
    // directory, fileFacts() for a file, "link " + its target for a link.
    static QMap<QByteArray, QByteArray> treeOf(const QString &path)
    {
        QMap<QByteArray, QByteArray> tree;
        readTree(QFile::encodeName(path), QByteArray(), tree);
        return tree;
    }
    // Removes the tree under `path` by its bytes (QTemporaryDir removes by decoded names,
    // which miss the names that are not UTF-8), opening locked directories first.
    static void removeTree(const QString &path)
    {
        removeTreeBytes(QFile::encodeName(path));
    }

    AppHarness() = default;
    ~AppHarness() override
    {
        delegate_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    Q_DISABLE_COPY_MOVE(AppHarness)

    // Starts the program; once more, a new program with the same home.
    void launch()
    {
        delegate_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delegate_ = std::make_unique<MyDelegate>();
        delegate_->setEngineSettings(engineSettings);
        delegate_->applicationWillFinishLaunching();
        delegate_->applicationDidFinishLaunching();
    }

    // What the program's engines are made with; set before launch() or a connect.
    FTP::Settings engineSettings;
    void setEngineSettings(const FTP::Settings &settings)
    {
        engineSettings = settings;
        if (delegate_)
            delegate_->setEngineSettings(settings);
    }

    // How many connections each direction may use, in the settings the next launch() reads.
    bool useConnections(int connections) const
    {
        TransferSettings settings = TransferSettings::load(settingsFile());
        settings.connections = connections;
        return settings.save(settingsFile());
    }

    bool isLaunched() const { return delegate_ != nullptr; }
    MyDelegate &app() const { return *delegate_; }
    MainWindowController &controller() const { return *delegate_->window(); }
    MainWindow &window() const { return *delegate_->window()->window(); }
    ColumnBrowser &local() const { return *window().localView(); }
    ColumnBrowser &remote() const { return *window().remoteView(); }
    MainWindowController::ConnectionState state() const { return controller().connectionState(); }

    // The application's transfer side, reached here only, so that tests follow its shape
    // in one place: the engines that download and upload, and what is left to move.
    std::shared_ptr<FTP> downloadEngine() const { return delegate_->dataTransfertIn(); }
    std::shared_ptr<FTP> uploadEngine() const { return delegate_->dataTransfertOut(); }
    int unfinishedTransfers() const { return delegate_->unfinishedTransfers(); }

    // Presses Connect; the dialog it opens, or null.
    ParametersWindow *pressConnect() const
    {
        window().Connect()->click();
        ParametersWindowController *params = delegate_->parameters();
        return params && params->window()->isVisible() ? params->window() : nullptr;
    }

    // Connect, fill the dialog, "Go!", then wait for the logins to come back (connected or
    // failed). False when no dialog opened or the logins never came back.
    bool connectThroughDialog(const QString &server, const QString &login,
                              const QString &password) const
    {
        ParametersWindow *dialog = pressConnect();
        if (!dialog)
            return false;
        dialog->server()->setEditText(server);
        dialog->login()->setText(login);
        dialog->password()->setText(password);
        dialog->go()->click();
        return QTest::qWaitFor([this] { return !delegate_->isDialing(); }, 30000);
    }

    // Launches the program with the local browser on localDir() and connects through the
    // dialog; true once connected.
    bool launchConnectedTo(const QString &server, const QString &login, const QString &password)
    {
        launch();
        return local().setPath(localDir()) && connectThroughDialog(server, login, password)
            && state() == MainWindowController::ConnectionState::Connected;
    }
    // The same, to the real server as its user with every right; the server is started
    // first when serve() was not called (why() tells when it cannot start).
    bool launchConnected()
    {
        return (server.isRunning() || serve())
            && launchConnectedTo(server.address(), RealFtpServer::user(), RealFtpServer::password());
    }

    // Names shown in a column of a browser, in row order, once its listing is there (a
    // remote column shows a placeholder row until then).
    static QStringList names(ColumnBrowser &browser, int column)
    {
        (void)QTest::qWaitFor([&] {
            for (int row = 0; row < browser.rowCount(column); ++row)
                if (browser.cellAt(column, row)->isPlaceholder())
                    return false;
            return true;
        });
        QStringList out;
        for (int row = 0; row < browser.rowCount(column); ++row)
            out << browser.cellAt(column, row)->stringValue();
        return out;
    }

    // Selects the rows showing `wanted` in a column; false when one of them is not shown.
    static bool select(ColumnBrowser &browser, int column, const QStringList &wanted)
    {
        const QStringList shown = names(browser, column);
        QList<int> rows;
        for (const QString &name : wanted) {
            const qsizetype row = shown.indexOf(name);
            if (row < 0)
                return false;
            rows << int(row);
        }
        browser.selectRows(column, rows);
        return true;
    }

    // The transfer queues as the application holds them, and whether every entry of one has
    // ended (done, failed or cancelled).
    const QList<File> &downloads() const { return *delegate_->downloadQueue(); }
    const QList<File> &uploads() const { return *delegate_->uploadQueue(); }
    static bool allFinished(const QList<File> &queue)
    {
        return std::all_of(queue.begin(), queue.end(), [](const File &f) { return f.isDone(); });
    }

private:
    static void readTree(const QByteArray &base, const QByteArray &relative, QMap<QByteArray, QByteArray> &tree)
    {
        const QByteArray path = relative.isEmpty() ? base : base + '/' + relative;
        DIR *dir = ::opendir(path.constData());
        if (!dir)
            return;
        QList<QByteArray> names;
        while (const dirent *entry = ::readdir(dir))
            if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                names << QByteArray(entry->d_name);
        ::closedir(dir);
        for (const QByteArray &name : names) {
            const QByteArray below = relative.isEmpty() ? name : relative + '/' + name;
            const QByteArray full = base + '/' + below;
            struct stat info{};
            if (::lstat(full.constData(), &info) != 0)
                continue;
            if (S_ISDIR(info.st_mode)) {
                tree.insert(below, "dir");
                readTree(base, below, tree);
            } else if (S_ISLNK(info.st_mode)) {
                QByteArray target(4096, '\0');
                const ssize_t length = ::readlink(full.constData(), target.data(), size_t(target.size()));
                tree.insert(below, "link " + target.left(qMax<ssize_t>(length, 0)));
            } else {
                QByteArray content;
                if (const int fd = ::open(full.constData(), O_RDONLY | O_CLOEXEC); fd >= 0) {
                    char buffer[65536];
                    ssize_t got = 0;
                    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
                        content.append(buffer, got);
                    ::close(fd);
                }
                tree.insert(below, fileFacts(content));
            }
        }
    }
    static void removeTreeBytes(const QByteArray &path)
    {
        struct stat info{};
        if (::lstat(path.constData(), &info) != 0)
            return;
        if (!S_ISDIR(info.st_mode)) {
            ::unlink(path.constData());
            return;
        }
        ::chmod(path.constData(), 0755);
        if (DIR *dir = ::opendir(path.constData())) {
            QList<QByteArray> names;
            while (const dirent *entry = ::readdir(dir))
                if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                    names << QByteArray(entry->d_name);
            ::closedir(dir);
            for (const QByteArray &name : names)
                removeTreeBytes(path + '/' + name);
        }
        ::rmdir(path.constData());
    }

    std::unique_ptr<MyDelegate> delegate_;
};

} // namespace zodaru::test
