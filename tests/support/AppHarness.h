// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/MyDelegate.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"

#include "support/Fixtures.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>

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
    std::unique_ptr<MyDelegate> delegate_;
};

} // namespace zodaru::test
