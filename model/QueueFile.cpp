// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/QueueFile.h"

#include "base/ByteNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <array>
#include <utility>

namespace zodaru {

namespace {

const QLatin1String kFormat("zodaru-transfer-queue");

constexpr std::array<std::pair<QueueFile::EntryState, const char *>, 6> kStates{{
    {QueueFile::EntryState::Waiting, "waiting"},
    {QueueFile::EntryState::Running, "running"},
    {QueueFile::EntryState::Failed, "failed"},
    {QueueFile::EntryState::Cancelled, "cancelled"},
    {QueueFile::EntryState::Done, "done"},
    {QueueFile::EntryState::Skipped, "skipped"},
}};

constexpr std::array<std::pair<ConflictAnswer, const char *>, 7> kAnswers{{
    {ConflictAnswer::Ask, "ask"},
    {ConflictAnswer::Overwrite, "overwrite"},
    {ConflictAnswer::OverwriteIfDifferent, "overwrite-if-different"},
    {ConflictAnswer::Resume, "resume"},
    {ConflictAnswer::Rename, "rename"},
    {ConflictAnswer::Skip, "skip"},
    {ConflictAnswer::ResumeOrAsk, "resume-or-ask"},
}};

template <typename Table>
const char *wordOf(const Table &table, decltype(table[0].first) value)
{
    for (const auto &[known, word] : table)
        if (known == value)
            return word;
    return table[0].second;
}

template <typename Table>
std::optional<decltype(std::declval<Table>()[0].first)> valueOf(const Table &table, const QJsonValue &word)
{
    for (const auto &[known, text] : table)
        if (word.toString() == QLatin1String(text))
            return known;
    return std::nullopt;
}

// A name as a JSON value: its text when it is UTF-8, else its bytes.
QJsonValue nameValue(const QString &name)
{
    if (!hasUndecodedBytes(name))
        return name;
    return QJsonObject{{QStringLiteral("bytes"), QString::fromLatin1(bytesOfName(name).toBase64())}};
}

std::optional<QString> nameFrom(const QJsonValue &value)
{
    if (value.isUndefined())
        return QString();
    if (value.isString())
        return value.toString();
    const QJsonValue bytes = value.toObject().value(QStringLiteral("bytes"));
    if (!bytes.isString())
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(bytes.toString().toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return nameFromBytes(*decoded);
}

QJsonObject entryObject(const File &entry)
{
    QJsonObject out{
        {QStringLiteral("id"), qint64(entry.getID())},
        {QStringLiteral("name"), nameValue(entry.name())},
        {QStringLiteral("local"), nameValue(entry.localpath())},
        {QStringLiteral("remote"), nameValue(entry.remotepath())},
        {QStringLiteral("size"), entry.size()},
        {QStringLiteral("state"), QLatin1String(wordOf(kStates, QueueFile::stateOf(entry)))},
    };
    if (entry.displayName() != entry.name())
        out.insert(QStringLiteral("display"), nameValue(entry.displayName()));
    if (entry.modified() >= 0)
        out.insert(QStringLiteral("modified"), entry.modified());
    if (entry.group() != 0)
        out.insert(QStringLiteral("group"), entry.group());
    if (entry.conflictAnswer() != ConflictAnswer::Ask)
        out.insert(QStringLiteral("answer"), QLatin1String(wordOf(kAnswers, entry.conflictAnswer())));
    if (entry.isDir()) {
        out.insert(QStringLiteral("folder"), QJsonObject{
            {QStringLiteral("found"), entry.filesFound()},
            {QStringLiteral("done"), entry.filesDone()},
            {QStringLiteral("failed"), entry.filesFailed()},
            {QStringLiteral("incomplete"), entry.walkIncomplete()},
        });
    }
    return out;
}

std::optional<qint64> integer(const QJsonObject &object, const QString &key, qint64 absent)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return absent;
    // JSON numbers are doubles: an integer past 2^53 is not one a file or a count has.
    if (!value.isDouble() || value.toDouble() != double(value.toInteger()))
        return std::nullopt;
    return value.toInteger();
}

std::optional<File> entryFrom(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto name = nameFrom(object.value(QStringLiteral("name")));
    const auto local = nameFrom(object.value(QStringLiteral("local")));
    const auto remote = nameFrom(object.value(QStringLiteral("remote")));
    const auto display = nameFrom(object.value(QStringLiteral("display")));
    const auto id = integer(object, QStringLiteral("id"), 0);
    const auto size = integer(object, QStringLiteral("size"), 0);
    const auto modified = integer(object, QStringLiteral("modified"), -1);
    const auto group = integer(object, QStringLiteral("group"), 0);
    const auto state = valueOf(kStates, object.value(QStringLiteral("state")));
    const QJsonValue answerValue = object.value(QStringLiteral("answer"));
    const auto answer = answerValue.isUndefined() ? ConflictAnswer::Ask : valueOf(kAnswers, answerValue);
    if (!name || name->isEmpty() || !local || !remote || !display || !id || !size || !modified || !group || !state
        || !answer)
        return std::nullopt;
    const QJsonValue folderValue = object.value(QStringLiteral("folder"));
    if (!folderValue.isUndefined() && !folderValue.isObject())
        return std::nullopt;
    File entry(*name, *size, folderValue.isObject() ? 1 : 0);
    entry.setID(*id);
    entry.setLocalPath(*local);
    entry.setRemotePath(*remote);
    if (!display->isEmpty())
        entry.setDisplayName(*display);
    entry.setModified(*modified);
    entry.setGroup(qint32(*group));
    entry.setConflictAnswer(*answer);
    if (folderValue.isObject()) {
        const QJsonObject folder = folderValue.toObject();
        const auto found = integer(folder, QStringLiteral("found"), 0);
        const auto done = integer(folder, QStringLiteral("done"), 0);
        const auto failed = integer(folder, QStringLiteral("failed"), 0);
        if (!found || !done || !failed)
            return std::nullopt;
        entry.setFileCounts(int(*found), int(*done));
        entry.setFilesFailed(int(*failed));
        entry.setWalkIncomplete(folder.value(QStringLiteral("incomplete")).toBool());
    }
    QueueFile::setState(entry, *state);
    return entry;
}

QJsonArray entriesArray(const QList<File> &entries)
{
    QJsonArray out;
    for (const File &entry : entries)
        out.append(entryObject(entry));
    return out;
}

std::optional<QList<File>> entriesFrom(const QJsonValue &value)
{
    if (value.isUndefined())
        return QList<File>();
    if (!value.isArray())
        return std::nullopt;
    QList<File> out;
    const QJsonArray array = value.toArray();
    out.reserve(array.size());
    for (const QJsonValue &item : array) {
        auto entry = entryFrom(item);
        if (!entry)
            return std::nullopt;
        out.append(std::move(*entry));
    }
    return out;
}

} // namespace

SavedSite SavedSite::fromKey(const QString &key)
{
    SavedSite site;
    site.server = key.section(QLatin1Char('\n'), 0, 0);
    site.login = key.section(QLatin1Char('\n'), 1);
    return site;
}

int SavedSite::files() const
{
    int count = 0;
    for (const QList<File> *entries : {&downloads, &uploads})
        for (const File &entry : *entries)
            count += entry.isDir() ? 0 : 1;
    return count;
}

namespace QueueFile {

EntryState stateOf(const File &entry)
{
    if (entry.isSkipped())
        return EntryState::Skipped;
    if (entry.isCancelled())
        return EntryState::Cancelled;
    if (entry.hasError())
        return EntryState::Failed;
    if (entry.isFinished())
        return EntryState::Done;
    return entry.isCurrent() ? EntryState::Running : EntryState::Waiting;
}

void setState(File &entry, EntryState state)
{
    switch (state) {
    case EntryState::Waiting:
        break;
    case EntryState::Running:
        entry.setCurrent(true);
        break;
    case EntryState::Failed:
        entry.setError();
        break;
    case EntryState::Cancelled:
        entry.setCancelled();
        break;
    case EntryState::Done:
        entry.setDone();
        break;
    case EntryState::Skipped:
        entry.setSkipped();
        break;
    }
}

QByteArray encoded(const QList<SavedSite> &sites)
{
    QJsonArray array;
    for (const SavedSite &site : sites) {
        array.append(QJsonObject{
            {QStringLiteral("server"), nameValue(site.server)},
            {QStringLiteral("login"), nameValue(site.login)},
            {QStringLiteral("downloads"), entriesArray(site.downloads)},
            {QStringLiteral("uploads"), entriesArray(site.uploads)},
        });
    }
    const QJsonObject root{
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("version"), kVersion},
        {QStringLiteral("sites"), array},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<QList<SavedSite>> decoded(QByteArrayView bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat
        || root.value(QStringLiteral("version")).toInt(-1) != kVersion)
        return std::nullopt;
    const QJsonValue sitesValue = root.value(QStringLiteral("sites"));
    if (!sitesValue.isArray())
        return std::nullopt;
    QList<SavedSite> sites;
    for (const QJsonValue &value : sitesValue.toArray()) {
        const QJsonObject object = value.toObject();
        const auto server = nameFrom(object.value(QStringLiteral("server")));
        const auto login = nameFrom(object.value(QStringLiteral("login")));
        auto downloads = entriesFrom(object.value(QStringLiteral("downloads")));
        auto uploads = entriesFrom(object.value(QStringLiteral("uploads")));
        if (!value.isObject() || !server || server->isEmpty() || !login || !downloads || !uploads)
            return std::nullopt;
        sites.append(SavedSite{*server, *login, std::move(*downloads), std::move(*uploads)});
    }
    return sites;
}

} // namespace QueueFile

} // namespace zodaru
