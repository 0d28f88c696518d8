// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MyDelegate.h"
#include "app/Translations.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QPixmap>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

// Where the installed translations are, from the program's directory (set by the install
// rules); without it only the built-in ones are used.
#ifndef ZODARU_TRANSLATIONS_FROM_BIN
#define ZODARU_TRANSLATIONS_FROM_BIN ""
#endif

namespace {

// How long quitting waits for the transfers it stopped: a worker only has to notice its
// closed connections and end.
constexpr int kTransferStopMs = 5000;

// "--screenshot FILE" or "--screenshot=FILE": render the main window to FILE once it is up,
// then quit. Used where there is no display, to show that the client starts.
QString screenshotPath(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--screenshot") && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (arg.startsWith(QLatin1String("--screenshot=")))
            return arg.mid(int(qstrlen("--screenshot=")));
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zodaru"));
    QApplication::setApplicationVersion(QStringLiteral(ZODARU_VERSION));

    // The desktop entry and icon installed with the program (Wayland matches windows to
    // the entry by this name); the built-in copy of the icon serves an uninstalled build.
    QGuiApplication::setDesktopFileName(QStringLiteral("zodaru"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zodaru"),
                                                 QIcon(QStringLiteral(":/desktop/zodaru.svg"))));

    // Texts are English unless a translation for the user's language is installed beside
    // the program or built in.
    zodaru::installTranslations(QLocale::system(),
                                zodaru::translationDirectories(QApplication::applicationDirPath(),
                                                               QStringLiteral(ZODARU_TRANSLATIONS_FROM_BIN)));

    const QString screenshot = screenshotPath(QApplication::arguments());

    zodaru::MyDelegate delegate;
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();

    if (!screenshot.isEmpty()) {
        // Give the window one pass of the event loop to lay itself out before it is drawn.
        QTimer::singleShot(200, &app, [&delegate, screenshot] {
            const bool saved = delegate.window()->window()->grab().save(screenshot, "PNG");
            std::fprintf(stderr, "%s %s\n", saved ? "Screenshot saved to" : "Could not save",
                         qPrintable(screenshot));
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    const int code = QApplication::exec();

    // A transfer worker reports through objects that go with the application; stopped and
    // waited for here, none outlives them; a download keeps its partial file for the saved
    // queue to continue at the next run.
    zodaru::FTP::stopAllTransfers();
    if (!zodaru::FTP::waitForTransfers(kTransferStopMs)) {
        // A worker stuck in a system call: leaving without running destructors is the only
        // way out that cannot pull the program out from under it.
        zodaru::zlog("Des transferts ne se sont pas arretes, on quitte quand meme");
        // No exit handlers run past this point: the log's waiting lines are written now.
        zodaru::flushLog();
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
