// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the engine against one real FTP server that serves the tree tools/interop.sh lays
// out, and writes one line per check to the report: "check<TAB>PASS|FAIL<TAB>detail".
// The engine's own log goes to standard error as usual.
//
//   interop_probe --server 127.0.0.1:2121 --user zodaru --password secret
//                 --base /srv/tree --served /srv/tree --local /tmp/x --report /tmp/x/report
//                 [--trust server.pem]
//
// The server text may carry a scheme (ftpes://, ftps://); --trust adds the server's own
// certificate to the ones the engine trusts.
// --base is the tree's path as the server names it, --served the same directory on this
// machine's disk (to check an upload byte for byte), --local a scratch directory holding
// random.bin, the original of the served copy.
#include "base/ByteNames.h"
#include "ftp/FTP.h"
#include "ftp/NotificationCenter.h"
#include "net/TlsContext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace zodaru;

namespace {

constexpr int kTransferLimitMs = 120000;

struct Options {
    QString server;
    QString user;
    QString password;
    QString base;
    QString served;
    QString local;
};

// The names of a listing, without the rows that name nothing.
QStringList namesOf(const std::optional<QList<File>> &entries)
{
    QStringList names;
    if (entries) {
        for (const File &f : *entries)
            if (!f.name().isEmpty())
                names << f.name();
    }
    return names;
}

bool sameBytes(const QString &a, const QString &b, QString *why)
{
    QFile fa(a);
    QFile fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("missing file");
        return false;
    }
    if (fa.size() != fb.size()) {
        *why = QStringLiteral("%1 bytes, want %2").arg(fb.size()).arg(fa.size());
        return false;
    }
    while (!fa.atEnd()) {
        if (fa.read(1 << 20) != fb.read(1 << 20)) {
            *why = QStringLiteral("bytes differ");
            return false;
        }
    }
    return true;
}

class Probe final {
public:
    Probe(Options options, FILE *report) : o_(std::move(options)), report_(report) {}

    int run()
    {
        login();
        if (!ftp_ || !ftp_->isConnected())
            return 1;
        listBase();
        listNested();
        listWithSpaces();
        listUtf8();
        listThroughLink();
        download();
        downloadMissing();
        upload();
        makeAndRemoveDir();
        makeExistingDir();
        deleteFile();
        listingTimes();
        if (ftp_)
            ftp_->shutdown();
        return failures_ == 0 ? 0 : 1;
    }

private:
    QString path(const QString &relative) const { return o_.base + QLatin1Char('/') + relative; }

    void result(const char *check, bool pass, const QString &detail)
    {
        if (!pass)
            ++failures_;
        std::fprintf(report_, "%s\t%s\t%s\n", check, pass ? "PASS" : "FAIL", qPrintable(detail));
        std::fflush(report_);
    }

    bool connect(QString *why)
    {
        try {
            ftp_ = FTP::connectTo(o_.server, o_.user, o_.password);
        } catch (const NetworkException &e) {
            ftp_.reset();
            *why = e.reason();
            return false;
        }
        if (!ftp_->isConnected()) {
            *why = QStringLiteral("login refused");
            return false;
        }
        return true;
    }

    // A check that follows one which lost the session starts from a fresh login, so that
    // each check says something of its own; the detail says it had to.
    QString session()
    {
        if (ftp_ && ftp_->isConnected())
            return QString();
        QString why;
        return connect(&why) ? QStringLiteral(" (reconnected)") : QStringLiteral(" (no session: %1)").arg(why);
    }

    std::optional<QList<File>> timedList(const QString &dir)
    {
        QElapsedTimer clock;
        clock.start();
        auto entries = ftp_->list(dir);
        listMs_.push_back(clock.elapsed());
        return entries;
    }

    // Lists `dir` and checks that `wanted` are among the names.
    void listCheck(const char *check, const QString &dir, const QStringList &wanted)
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result(check, false, note);
        const auto entries = timedList(dir);
        const QStringList names = namesOf(entries);
        QStringList missing;
        for (const QString &w : wanted)
            if (!names.contains(w))
                missing << w;
        const QString detail = QStringLiteral("%1 names, %2 ms").arg(names.size()).arg(listMs_.back());
        result(check, entries && missing.isEmpty(),
               (missing.isEmpty() ? detail : detail + QStringLiteral(", missing: ") + missing.join(QStringLiteral(", ")))
                   + note);
    }

    void login()
    {
        QString why;
        const bool ok = connect(&why);
        result("login", ok, !ok ? why : ftp_->isEncrypted() ? ftp_->tlsDescription() : QStringLiteral("logged in"));
    }

    void listBase()
    {
        listCheck("list top", o_.base,
                  {QStringLiteral("dir with spaces"), QStringLiteral("nested"), QStringLiteral("random.bin"),
                   QStringLiteral("small.txt"), QStringLiteral("link-to-nested")});
        entryKinds();
    }

    // What the listing says of each entry: a directory, a link, a file and its size.
    void entryKinds()
    {
        if (!ftp_ || !ftp_->isConnected())
            return result("entry kinds", false, QStringLiteral("no session"));
        const auto entries = timedList(o_.base);
        const auto find = [&entries](const QString &name) -> std::optional<File> {
            if (entries) {
                for (const File &f : *entries)
                    if (f.name() == name)
                        return f;
            }
            return std::nullopt;
        };
        const auto nested = find(QStringLiteral("nested"));
        const auto link = find(QStringLiteral("link-to-nested"));
        const auto big = find(QStringLiteral("random.bin"));
        QStringList wrong;
        if (!nested || !nested->isDir())
            wrong << QStringLiteral("nested not a directory");
        if (!link || !link->isLink())
            wrong << QStringLiteral("link type %1").arg(link ? link->type() : -1);
        if (!big || big->type() != 0 || big->size() != 5 * 1024 * 1024)
            wrong << QStringLiteral("random.bin size %1").arg(big ? big->size() : -1);
        result("entry kinds", wrong.isEmpty(),
               wrong.isEmpty() ? QStringLiteral("dir, link, 5 MiB file") : wrong.join(QStringLiteral(", ")));
    }

    void listNested()
    {
        const QString note = session();
        const QStringList levels = {QStringLiteral("nested"), QStringLiteral("nested/level1"),
                                    QStringLiteral("nested/level1/level2")};
        const QStringList wanted = {QStringLiteral("level1"), QStringLiteral("level2"), QStringLiteral("deep.txt")};
        qint64 slowest = 0;
        for (int k = 0; k < levels.size(); ++k) {
            if (!ftp_ || !ftp_->isConnected())
                return result("list nested", false, QStringLiteral("session lost at %1").arg(levels[k]) + note);
            const auto names = namesOf(timedList(path(levels[k])));
            slowest = std::max(slowest, listMs_.back());
            if (!names.contains(wanted[k]))
                return result("list nested", false,
                              QStringLiteral("%1 lacks %2 (%3 names)").arg(levels[k], wanted[k]).arg(names.size())
                                  + note);
        }
        result("list nested", true, QStringLiteral("3 levels, slowest %1 ms").arg(slowest) + note);
    }

    void listWithSpaces()
    {
        listCheck("list dir with spaces", path(QStringLiteral("dir with spaces")),
                  {QStringLiteral("file one.txt"), QStringLiteral("two  spaces.txt")});
    }

    void listUtf8()
    {
        listCheck("list utf-8 names", path(QStringLiteral("répertoire-日本")),
                  {QStringLiteral("été.txt"), QStringLiteral("naïve café.txt")});
    }

    void listThroughLink()
    {
        listCheck("list through link", path(QStringLiteral("link-to-nested")), {QStringLiteral("level1")});
    }

    // Runs one transfer and waits on this thread's event loop for its completion, as the
    // application's handlers get it.
    QString transfer(bool down, const QString &local, const QString &remote)
    {
        const QString name = down ? QStringLiteral("FileSaved") : QStringLiteral("FileSend");
        bool done = false;
        QString status;
        QEventLoop loop;
        QObject context;
        NotificationCenter::defaultCenter().addObserver(
            &context, name, QStringLiteral("DataTransfert"), [&](const Notification &n) {
                if (n.engine != ftp_->id())
                    return;
                done = true;
                status = n.userInfo.value(QStringLiteral("status"));
                loop.quit();
            });
        const int start = down ? ftp_->get(remote, local, 1) : ftp_->put(local, remote, 1);
        if (start < 0 || start >= 400)
            return QStringLiteral("start answered %1").arg(start);
        if (!done) {
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(kTransferLimitMs);
            loop.exec();
        }
        if (!done)
            return QStringLiteral("no completion");
        return status == QLatin1String("226") ? QString() : QStringLiteral("status %1").arg(status);
    }

    void download()
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result("get 5 MiB", false, note);
        const QString target = o_.local + QStringLiteral("/downloaded.bin");
        QFile::remove(target);
        QElapsedTimer clock;
        clock.start();
        QString why = transfer(true, target, path(QStringLiteral("random.bin")));
        const qint64 ms = clock.elapsed();
        const bool ok = why.isEmpty() && sameBytes(o_.local + QStringLiteral("/random.bin"), target, &why);
        result("get 5 MiB", ok, (ok ? QStringLiteral("identical, %1 ms").arg(ms) : why) + note);
    }

    // A refused download leaves the session in step: the next listing still works.
    void downloadMissing()
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result("get missing", false, note);
        const int code = ftp_->get(path(QStringLiteral("no such file")), o_.local + QStringLiteral("/missing.bin"), 2);
        const auto entries = ftp_->isConnected() ? ftp_->list(o_.base) : std::nullopt;
        result("get missing", code >= 400 && entries && !entries->isEmpty(),
               QStringLiteral("RETR %1, listing after it %2").arg(code).arg(entries ? QStringLiteral("ok") : QStringLiteral("failed"))
                   + note);
    }

    void upload()
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result("put 5 MiB", false, note);
        QElapsedTimer clock;
        clock.start();
        QString why = transfer(false, o_.local + QStringLiteral("/random.bin"), path(QStringLiteral("uploaded.bin")));
        const qint64 ms = clock.elapsed();
        const bool ok = why.isEmpty()
                        && sameBytes(o_.local + QStringLiteral("/random.bin"), o_.served + QStringLiteral("/uploaded.bin"),
                                     &why);
        result("put 5 MiB", ok, (ok ? QStringLiteral("identical, %1 ms").arg(ms) : why) + note);
    }

    void makeAndRemoveDir()
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result("mkdir + rmdir new", false, note);
        const QString dir = path(QStringLiteral("made by probe"));
        const int made = ftp_->command(QStringLiteral("MKD"), dir);
        const int removed = ftp_->isConnected() ? ftp_->command(QStringLiteral("RMD"), dir) : -1;
        result("mkdir + rmdir new", made == 257 && removed == 250,
               QStringLiteral("MKD %1, RMD %2").arg(made).arg(removed) + note);
    }

    // A refusal must leave the session usable: the next listing still works.
    void makeExistingDir()
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result("mkdir existing", false, note);
        const int code = ftp_->command(QStringLiteral("MKD"), path(QStringLiteral("nested")));
        const bool alive = ftp_->isConnected();
        const bool lists = alive && namesOf(timedList(o_.base)).contains(QStringLiteral("nested"));
        const QString detail = QStringLiteral("MKD %1, %2").arg(code).arg(
            lists ? QStringLiteral("session usable")
                  : (alive ? QStringLiteral("listing failed after") : QStringLiteral("session closed")));
        result("mkdir existing", code >= 400 && lists, detail + note);
    }

    void deleteFile()
    {
        const QString note = session();
        if (!ftp_ || !ftp_->isConnected())
            return result("delete", false, note);
        const int code = ftp_->command(QStringLiteral("DELE"), path(QStringLiteral("uploaded.bin")));
        const bool gone = !QFile::exists(o_.served + QStringLiteral("/uploaded.bin"));
        result("delete", code == 250 && gone,
               QStringLiteral("DELE %1, %2").arg(code).arg(gone ? QStringLiteral("gone") : QStringLiteral("still there"))
                   + note);
    }

    // Every listing above counts; a listing should take milliseconds on loopback.
    void listingTimes()
    {
        if (listMs_.empty())
            return result("listing time", false, QStringLiteral("no listing"));
        std::vector<qint64> sorted = listMs_;
        std::sort(sorted.begin(), sorted.end());
        const qint64 median = sorted[sorted.size() / 2];
        result("listing time", sorted.back() < 1000,
               QStringLiteral("%1 listings, median %2 ms, max %3 ms").arg(sorted.size()).arg(median).arg(sorted.back()));
    }

    const Options o_;
    FILE *report_;
    std::shared_ptr<FTP> ftp_;
    std::vector<qint64> listMs_;
    int failures_ = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Checks the engine against one FTP server."));
    parser.addHelpOption();
    const auto option = [](const char *name, const char *help) {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help), QStringLiteral("value"));
    };
    const QCommandLineOption server = option("server", "host:port");
    const QCommandLineOption user = option("user", "login");
    const QCommandLineOption password = option("password", "password");
    const QCommandLineOption base = option("base", "the tree's directory as the server names it");
    const QCommandLineOption served = option("served", "the same directory on this machine's disk");
    const QCommandLineOption local = option("local", "scratch directory holding random.bin");
    const QCommandLineOption report = option("report", "file the results are written to");
    const QCommandLineOption trust = option("trust", "PEM file of a certificate to trust");
    parser.addOptions({server, user, password, base, served, local, report, trust});
    parser.process(app);
    for (const auto &required : {server, user, password, base, served, local, report}) {
        if (!parser.isSet(required)) {
            std::fprintf(stderr, "missing --%s\n", qPrintable(required.names().constFirst()));
            return 2;
        }
    }

    // The engine prints the passive address on standard output: the results go to a file
    // of their own.
    std::unique_ptr<FILE, int (*)(FILE *)> out(std::fopen(bytesOfName(parser.value(report)).constData(), "w"), &std::fclose);
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(parser.value(report)));
        return 2;
    }
    if (parser.isSet(trust) && !FTP::tlsContext().addTrustedCertificates(parser.value(trust))) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(parser.value(trust)),
                     qPrintable(FTP::tlsContext().errorText()));
        return 2;
    }
    Options o{parser.value(server), parser.value(user), parser.value(password), parser.value(base),
              parser.value(served), parser.value(local)};
    return Probe(std::move(o), out.get()).run();
}
