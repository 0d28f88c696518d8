// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MyDelegate.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QLocale>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

namespace {

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

    // Button titles are English unless a translation for the user's language is built in.
    QTranslator translator;
    if (translator.load(QLocale::system(), QStringLiteral("zodaru"), QStringLiteral("_"),
                        QStringLiteral(":/i18n")))
        QApplication::installTranslator(&translator);

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
    return QApplication::exec();
}
