// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program, offscreen, browsing a server that answers every control line 300 ms
// late: connect, open 10 remote directories, make and remove a directory, get 20 small
// files. Prints the longest gap between two ticks of a 5 ms timer on the main thread over
// the whole run (a window that waits on the network shows gaps of whole round trips), and
// the longest gap of each step.
//
//   browse_bench [--delay-ms 300]
#include "app/MyDelegate.h"
#include "ftp/FTP.h"
#include "support/ScriptedFtpServer.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/GetNameWindow.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace zodaru;

namespace {

constexpr int kDirectories = 10;
constexpr int kFiles = 20;

QByteArray fileLine(const QByteArray &name, bool directory)
{
    return (directory ? "drwxr-xr-x 2 u g 0 Jan  1  2020 " : "-rw-r--r-- 1 u g 5 Jan  1  2020 ") + name
           + "\r\n";
}

// Any number of connections (the program opens three); the command connection's MKD and
// RMD change what "/" lists.
ScriptedFtpServer::Script slowServer(int delayMs)
{
    return [delayMs](ScriptedFtpServer::Session &s) {
        s.setReplyDelay(delayMs);
        s.greetAndLogin();
        QSet<QByteArray> made;
        for (;;) {
            const QByteArray line = s.readLine();
            const qsizetype blank = line.indexOf(' ');
            const QByteArray word = blank < 0 ? line : line.left(blank);
            const QByteArray arg = blank < 0 ? QByteArray() : line.mid(blank + 1);
            if (line == "PASV") {
                s.line(s.openPassive());
            } else if (word == "LIST") {
                const QByteArray path = arg.isEmpty() ? s.workingDirectory() : arg;
                QByteArray listing;
                if (path == "/") {
                    for (int i = 0; i < kDirectories; ++i)
                        listing += fileLine("d" + QByteArray::number(i), true);
                    listing += fileLine("files", true);
                    listing += fileLine("stall", true);
                    for (const QByteArray &name : made)
                        listing += fileLine(name, true);
                } else if (path == "/stall") {
                    // Announces the listing and then never sends it nor answers again.
                    s.line("150 Here it comes");
                    s.stall();
                } else if (path == "/files") {
                    for (int i = 0; i < kFiles; ++i)
                        listing += fileLine("f" + QByteArray::number(i), false);
                } else {
                    listing += fileLine("inside", false);
                }
                s.line("150 Here it comes");
                s.sendData(listing);
                s.line("226 Done");
            } else if (word == "RETR" || word == "SIZE") {
                if (word == "SIZE") {
                    s.line("213 5");
                    continue;
                }
                s.line("150 Sending");
                s.sendData("hello");
                s.line("226 Done");
            } else if (word == "MKD" || word == "RMD") {
                const QByteArray name = arg.mid(arg.lastIndexOf('/') + 1);
                if (word == "MKD")
                    made.insert(name);
                else
                    made.remove(name);
                s.line(word == "MKD" ? "257 Made" : "250 Removed");
            } else if (line == "QUIT") {
                s.line("221 Bye");
                return;
            } else {
                s.line("200 OK");
            }
        }
    };
}

// The rows of a column once its listing is there (none while it shows a placeholder).
QStringList shownNames(ColumnBrowser &browser, int column)
{
    QStringList names;
    for (int row = 0; row < browser.rowCount(column); ++row) {
        const CellFile *cell = browser.cellAt(column, row);
        if (cell->isPlaceholder())
            return {};
        names << cell->stringValue();
    }
    return names;
}

bool selectNamed(ColumnBrowser &browser, int column, const QString &name)
{
    const int row = int(shownNames(browser, column).indexOf(name));
    if (row < 0)
        return false;
    browser.selectRow(column, row);
    return true;
}

// One step: an action, then a condition polled until it holds.
struct Step {
    QString name;
    std::function<bool()> act;
    std::function<bool()> done;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption delay(QStringLiteral("delay-ms"), QStringLiteral("reply delay"),
                                   QStringLiteral("ms"), QStringLiteral("300"));
    parser.addOption(delay);
    const QCommandLineOption stallLimit(QStringLiteral("stall-limit-ms"),
                                        QStringLiteral("how long a silent server is waited for"),
                                        QStringLiteral("ms"), QStringLiteral("5000"));
    parser.addOption(stallLimit);
    parser.process(app);
    // The stalled listing ends at the engine's limits; shortened so the run stays short.
    FTP::Settings shorter;
    shorter.timeouts.replyLine = shorter.timeouts.dataIdle = shorter.timeouts.replyTotal =
        parser.value(stallLimit).toInt();

    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QTemporaryDir downloads;
    ScriptedFtpServer server(slowServer(parser.value(delay).toInt()));

    MyDelegate delegate;
    delegate.setEngineSettings(shorter);
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    MainWindowController &controller = *delegate.window();
    MainWindow &window = *controller.window();
    ColumnBrowser &local = *window.localView();
    ColumnBrowser &remote = *window.remoteView();
    local.setPath(downloads.path());

    QList<Step> steps;
    steps.append({QStringLiteral("connect"),
                  [&] {
                      delegate.connectWithAddress(server.address(), QStringLiteral("me"), QStringLiteral("pw"));
                      return true;
                  },
                  [&] {
                      return controller.connectionState() == MainWindowController::ConnectionState::Connected
                             && !shownNames(remote, 0).isEmpty();
                  }});
    for (int i = 0; i < kDirectories; ++i) {
        const QString name = QStringLiteral("d%1").arg(i);
        steps.append({QStringLiteral("open ") + name, [&, name] { return selectNamed(remote, 0, name); },
                      [&] { return shownNames(remote, 1) == QStringList{QStringLiteral("inside")}; }});
    }
    steps.append({QStringLiteral("make dir"),
                  [&] {
                      remote.setPath(QStringLiteral("/")); // nothing selected: make it in "/"
                      window.rmkdir()->click();
                      for (GetNameWindow *panel : window.findChildren<GetNameWindow *>()) {
                          if (!panel->isVisible())
                              continue;
                          panel->name()->setText(QStringLiteral("made"));
                          panel->go()->click();
                          return true;
                      }
                      return false;
                  },
                  [&] { return shownNames(remote, 0).contains(QStringLiteral("made")); }});
    // Directories are not deleted from the window; RMD goes the way DELE does.
    steps.append({QStringLiteral("remove dir"),
                  [&] {
                      controller.sendRemoteCommand(QStringLiteral("RMD"), QStringLiteral("//made"));
                      controller.refreshRemote();
                      return true;
                  },
                  [&] {
                      const QStringList names = shownNames(remote, 0);
                      return !names.isEmpty() && !names.contains(QStringLiteral("made"));
                  }});
    steps.append({QStringLiteral("open files"), [&] { return selectNamed(remote, 0, QStringLiteral("files")); },
                  [&] { return shownNames(remote, 1).size() == kFiles; }});
    steps.append({QStringLiteral("get 20 files"),
                  [&] {
                      QList<int> rows;
                      for (int row = 0; row < kFiles; ++row)
                          rows << row;
                      remote.selectRows(1, rows);
                      window.Get()->click();
                      return true;
                  },
                  [&] {
                      const QList<File> *queue = delegate.downloadQueue();
                      return queue && queue->size() == kFiles
                             && std::all_of(queue->begin(), queue->end(), [](const File &f) { return f.isDone(); });
                  }});

    // Last: a listing the server never sends. The window must keep answering meanwhile; the
    // column then reports the failure, or the session ends as lost.
    bool stallOpened = false;
    steps.append({QStringLiteral("stalled listing"),
                  [&] {
                      remote.setPath(QStringLiteral("/"));
                      return true;
                  },
                  [&] {
                      // Opened once the root's listing is back.
                      if (!stallOpened) {
                          stallOpened = selectNamed(remote, 0, QStringLiteral("stall"));
                          return false;
                      }
                      if (controller.connectionState() == MainWindowController::ConnectionState::Disconnected)
                          return true;
                      const CellFile *cell = remote.rowCount(1) == 1 ? remote.cellAt(1, 0) : nullptr;
                      return cell && cell->isPlaceholder()
                             && cell->stringValue() != QCoreApplication::translate("Browsing", "Loading...");
                  }});

    QElapsedTimer total;
    QElapsedTimer sinceTick;
    qint64 longestNs = 0;
    qint64 stepLongestNs = 0;
    qint64 stepStartNs = 0;
    int current = -1;
    bool failed = false;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 gap = sinceTick.nsecsElapsed();
        sinceTick.restart();
        longestNs = std::max(longestNs, gap);
        stepLongestNs = std::max(stepLongestNs, gap);
        if (current >= 0 && !steps[current].done())
            return;
        if (current >= 0) {
            std::fprintf(stdout, "step=\"%s\" ms=%.0f longestGap_ms=%.1f\n", qPrintable(steps[current].name),
                         double(total.nsecsElapsed() - stepStartNs) / 1e6, double(stepLongestNs) / 1e6);
            std::fflush(stdout);
        }
        if (++current == steps.size()) {
            app.quit();
            return;
        }
        stepLongestNs = 0;
        stepStartNs = total.nsecsElapsed();
        // The action runs inside the tick: its own time counts in the next gap.
        if (!steps[current].act()) {
            std::fprintf(stdout, "error=step \"%s\" could not start\n", qPrintable(steps[current].name));
            failed = true;
            app.quit();
        }
    });
    // A run that never ends is a failure, not a measure.
    QTimer::singleShot(120000, &app, [&] {
        std::fprintf(stdout, "error=timed out in step \"%s\"\n",
                     current >= 0 && current < steps.size() ? qPrintable(steps[current].name) : "?");
        failed = true;
        app.quit();
    });
    QTimer::singleShot(0, &app, [&] {
        total.start();
        sinceTick.start();
        tick.start();
    });
    app.exec();
    std::fprintf(stdout, "delay_ms=%d total_s=%.2f longestGap_ms=%.1f\n", parser.value(delay).toInt(),
                 double(total.nsecsElapsed()) / 1e9, double(longestNs) / 1e6);
    delegate.disconnectFromFTP();
    return failed ? 1 : 0;
}
