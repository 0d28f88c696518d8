// SPDX-License-Identifier: GPL-3.0-or-later
// Measures one download or upload through the engine, as the application runs it: the
// start on the main thread, the data on the worker, every notification handled on the
// main thread's event loop. Prints one line of key=value figures.
//
//   transfer_bench --server 127.0.0.1:2121 --user anonymous --password x
//                  --direction down|up --remote /pub/big.bin --local /dev/shm/x/big.bin
//                  --broadcast on|off
#include "PeakMemory.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace zodaru;
using zodaru::bench::peakResidentKiB;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("host:port"), QStringLiteral("server"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("login"), QStringLiteral("login"),
                                  QStringLiteral("anonymous"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("password"),
                                      QStringLiteral("password"), QStringLiteral("bench@"));
    const QCommandLineOption direction(QStringLiteral("direction"), QStringLiteral("down or up"),
                                       QStringLiteral("direction"));
    const QCommandLineOption remote(QStringLiteral("remote"), QStringLiteral("remote path"), QStringLiteral("path"));
    const QCommandLineOption local(QStringLiteral("local"), QStringLiteral("local path"), QStringLiteral("path"));
    const QCommandLineOption broadcast(QStringLiteral("broadcast"), QStringLiteral("on or off"),
                                       QStringLiteral("on|off"), QStringLiteral("on"));
    parser.addOptions({server, user, password, direction, remote, local, broadcast});
    parser.process(app);

    const bool download = parser.value(direction) == QLatin1String("down");
    auto &center = NotificationCenter::defaultCenter();
    center.setBroadcastEnabled(parser.value(broadcast) == QLatin1String("on"));

    // What the application's handlers do per chunk, minus the table: credit the bytes.
    qint64 credited = 0;
    QString status;
    QObject context;
    QElapsedTimer clock;
    qint64 elapsedNs = 0;
    const QString chunkName = download ? QStringLiteral("ChunkOfFile") : QStringLiteral("ChunkOfFileUploaded");
    const QString endName = download ? QStringLiteral("FileSaved") : QStringLiteral("FileSend");
    center.addObserver(&context, chunkName, QStringLiteral("DataTransfert"), [&](const Notification &n) {
        credited += n.userInfo.value(QStringLiteral("size")).toLongLong();
    });
    center.addObserver(&context, endName, QStringLiteral("DataTransfert"), [&](const Notification &n) {
        elapsedNs = clock.nsecsElapsed();
        status = n.userInfo.value(QStringLiteral("status"));
        if (credited != n.userInfo.value(QStringLiteral("size")).toLongLong())
            status += QStringLiteral("(chunk sum mismatch)");
        app.quit();
    });

    std::shared_ptr<FTP> ftp;
    try {
        ftp = FTP::connectTo(parser.value(server), parser.value(user), parser.value(password));
    } catch (const NetworkException &e) {
        std::fprintf(stdout, "error=%s\n", qPrintable(e.reason()));
        return 1;
    }
    if (!ftp->isConnected()) {
        std::fprintf(stdout, "error=login failed\n");
        return 1;
    }

    int start = -1;
    QTimer::singleShot(0, &app, [&] {
        clock.start();
        start = download ? ftp->get(parser.value(remote), parser.value(local), 0)
                         : ftp->put(parser.value(local), parser.value(remote), 0);
        if (start < 0 || start >= 400)
            std::fprintf(stdout, "error=start answered %d\n", start);
    });
    app.exec();
    ftp->shutdown();

    const double seconds = double(elapsedNs) / 1e9;
    const double mbps = seconds > 0 ? double(credited) / 1e6 / seconds : 0;
    std::fprintf(stdout, "direction=%s broadcast=%s bytes=%lld seconds=%.3f MBps=%.1f peakRSS_KiB=%ld status=%s\n",
                 download ? "down" : "up", center.broadcastEnabled() ? "on" : "off", credited, seconds, mbps,
                 peakResidentKiB(), qPrintable(status));
    return status == QLatin1String("226") ? 0 : 1;
}
