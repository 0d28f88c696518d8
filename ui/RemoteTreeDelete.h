// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "model/LocalTreeDelete.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace zodaru {

class AppContext;

// Deletes entries of one remote directory with everything they hold, through the
// application's command engine (AppContext::listRemote, remoteCommand): survey() lists each
// chosen directory down to its leaves and counts what it found; run() then sends DELE for
// every file and link (a link is removed, never followed) and RMD for every directory,
// deepest first, one command at a time, and stops at the first refusal.
// Main thread only; the engine's answers come back on it. Answers that arrive after this
// object is gone are dropped.
class RemoteTreeDelete final : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString name; // a plain name (isPlainName) in `directory`
        bool directory = false;
    };
    enum class Stop {
        None,
        ListingFailed, // a directory could not be listed (survey)
        StrangeName,   // a listed name that is not plain, or a tree deeper than kMaxDepth
        Refused,       // the server refused a DELE or RMD, or the command was not sent
    };
    struct Outcome {
        Stop stop = Stop::None;
        QString where; // the path the stop is about
        int code = 0;  // the server's reply to the refused command (-1 not sent)
        int done = 0;  // commands that worked
    };
    using Surveyed = std::function<void(const TreeCount &inside, const Outcome &failure)>;
    using Finished = std::function<void(const Outcome &outcome)>;

    // Deeper than this, the tree is taken for a server that lists a directory inside itself.
    static constexpr int kMaxDepth = 64;

    RemoteTreeDelete(AppContext &app, const QString &directory, const QList<Entry> &entries,
                     QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(RemoteTreeDelete)

    // Lists the chosen directories; `surveyed` gets the count, or the failure that stopped it.
    void survey(Surveyed surveyed);
    // After survey(): the commands, in order; `finished` tells how far they went.
    void run(Finished finished);
    bool isRunning() const { return running_; }

private:
    struct Step {
        QString word; // "DELE" or "RMD"
        QString path;
    };
    struct Folder {
        QString path;
        int depth = 0;
        QStringList files;
        QList<int> subfolders; // indexes into folders_
    };

    static QString join(const QString &directory, const QString &name);
    void listNext();
    void listed(int index, const std::optional<QList<File>> &entries);
    void appendSteps(int index);
    void sendNext();

    AppContext &app_;
    QString directory_;
    QList<Entry> entries_;
    QList<Folder> folders_; // the chosen directories first, then as they are found
    int nextToList_ = 0;
    TreeCount inside_;
    QList<Step> steps_;
    int nextStep_ = 0;
    bool running_ = false;
    Surveyed surveyed_;
    Finished finished_;
};

} // namespace zodaru
