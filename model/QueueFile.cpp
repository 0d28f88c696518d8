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

// The document is written by hand, straight into bytes: a queue of thousands of entries
// is written on the main thread at each change, where building JSON objects costs too much.
void appendString(QByteArray &out, QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// A word of ours: plain ASCII, nothing to escape.
void appendWord(QByteArray &out, const char *word)
{
    out += '"';
    out += word;
    out += '"';
}

// A name: its text when it is UTF-8, else {"bytes": base64 of its bytes}.
void appendName(QByteArray &out, const QString &name)
{
    if (!hasUndecodedBytes(name)) {
        appendString(out, name);
        return;
    }
    out += "{\"bytes\":\"";
    out += bytesOfName(name).toBase64();
    out += "\"}";
}

void appendKey(QByteArray &out, const char *key)
{
    out += ",\"";
    out += key;
    out += "\":";
}

void appendEntry(QByteArray &out, const File &entry)
{
    out += "{\"id\":";
    out += QByteArray::number(entry.getID());
    appendKey(out, "name");
    appendName(out, entry.name());
    appendKey(out, "local");
    appendName(out, entry.localpath());
    appendKey(out, "remote");
    appendName(out, entry.remotepath());
    appendKey(out, "size");
    out += QByteArray::number(entry.size());
    appendKey(out, "state");
    appendWord(out, wordOf(kStates, QueueFile::stateOf(entry)));
    if (entry.displayName() != entry.name()) {
        appendKey(out, "display");
        appendName(out, entry.displayName());
    }
    if (entry.modified() >= 0) {
        appendKey(out, "modified");
        out += QByteArray::number(entry.modified());
    }
    if (entry.group() != 0) {
        appendKey(out, "group");
        out += QByteArray::number(entry.group());
    }
    if (entry.conflictAnswer() != ConflictAnswer::Ask) {
        appendKey(out, "answer");
        appendWord(out, wordOf(kAnswers, entry.conflictAnswer()));
    }
    if (entry.isDir()) {
        appendKey(out, "folder");
        out += "{\"found\":" + QByteArray::number(entry.filesFound()) + ",\"done\":"
            + QByteArray::number(entry.filesDone()) + ",\"failed\":" + QByteArray::number(entry.filesFailed())
            + ",\"incomplete\":" + (entry.walkIncomplete() ? "true" : "false") + '}';
    }
    out += '}';
}

void appendEntries(QByteArray &out, const QList<File> &entries)
{
    out += '[';
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i > 0)
            out += ',';
        out += "\n  ";
        appendEntry(out, entries[i]);
    }
    out += ']';
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

SavedSite SavedSite::fromKey(const QString &key, QList<File> downloads, QList<File> uploads)
{
    return SavedSite{key.section(QLatin1Char('\n'), 0, 0), key.section(QLatin1Char('\n'), 1), std::move(downloads),
                     std::move(uploads)};
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
    QByteArray out;
    out.reserve(256 + 160 * qsizetype(sites.size()));
    out += "{\"format\":\"";
    out += kFormat.latin1();
    out += "\",\"version\":" + QByteArray::number(kVersion) + ",\"sites\":[";
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const SavedSite &site = sites[i];
        out += i > 0 ? ",\n {\"server\":" : "\n {\"server\":";
        appendName(out, site.server);
        appendKey(out, "login");
        appendName(out, site.login);
        appendKey(out, "downloads");
        appendEntries(out, site.downloads);
        appendKey(out, "uploads");
        appendEntries(out, site.uploads);
        out += '}';
    }
    out += "]}\n";
    return out;
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
