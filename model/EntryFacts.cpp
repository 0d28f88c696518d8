// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/EntryFacts.h"

#include <QCoreApplication>

#include <algorithm>

#include <sys/stat.h>

namespace zodaru {

namespace {

constexpr qint64 kMinute = 60;
constexpr qint64 kDay = 86400;

qint64 precisionOf(qint64 seconds)
{
    if (seconds % kDay == 0)
        return kDay;
    if (seconds % kMinute == 0)
        return kMinute;
    return 1;
}

// -1: a is earlier, 0: the same at the coarser precision, 1: a is later.
int compareTimes(qint64 a, qint64 b)
{
    const qint64 unit = std::max(precisionOf(a), precisionOf(b));
    const qint64 ua = a / unit;
    const qint64 ub = b / unit;
    return ua < ub ? -1 : (ua > ub ? 1 : 0);
}

bool isDirectory(const EntryFacts &facts)
{
    return facts.kind == EntryFacts::Kind::Directory;
}

} // namespace

Namesake compareNamesakes(const EntryFacts &here, const std::optional<EntryFacts> &there)
{
    if (!there)
        return Namesake::Missing;
    if (isDirectory(here) != isDirectory(*there))
        return Namesake::OtherKind;
    if (isDirectory(here))
        return Namesake::BothFolders;
    const bool timesKnown = here.modified >= 0 && there->modified >= 0;
    if (timesKnown) {
        const int order = compareTimes(here.modified, there->modified);
        if (order > 0)
            return Namesake::Newer;
        if (order < 0)
            return Namesake::Older;
    }
    if (here.size != there->size)
        return Namesake::OtherSize;
    return timesKnown ? Namesake::Same : Namesake::SameSize;
}

QString namesakeText(Namesake namesake)
{
    const char *text = "";
    switch (namesake) {
    case Namesake::Missing: text = QT_TRANSLATE_NOOP("Preview", "Missing on the other side"); break;
    case Namesake::Same: text = QT_TRANSLATE_NOOP("Preview", "Same size and date on the other side"); break;
    case Namesake::SameSize: text = QT_TRANSLATE_NOOP("Preview", "Same size on the other side"); break;
    case Namesake::Newer: text = QT_TRANSLATE_NOOP("Preview", "Newer than on the other side"); break;
    case Namesake::Older: text = QT_TRANSLATE_NOOP("Preview", "Older than on the other side"); break;
    case Namesake::OtherSize: text = QT_TRANSLATE_NOOP("Preview", "Other size on the other side"); break;
    case Namesake::OtherKind: text = QT_TRANSLATE_NOOP("Preview", "Another kind of entry on the other side"); break;
    case Namesake::BothFolders: text = QT_TRANSLATE_NOOP("Preview", "Also a folder on the other side"); break;
    }
    return QCoreApplication::translate("Preview", text);
}

QString permissionsText(quint32 mode)
{
    QString text(10, QLatin1Char('-'));
    switch (mode & S_IFMT) {
    case S_IFDIR: text[0] = QLatin1Char('d'); break;
    case S_IFLNK: text[0] = QLatin1Char('l'); break;
    case S_IFCHR: text[0] = QLatin1Char('c'); break;
    case S_IFBLK: text[0] = QLatin1Char('b'); break;
    case S_IFIFO: text[0] = QLatin1Char('p'); break;
    case S_IFSOCK: text[0] = QLatin1Char('s'); break;
    default: break;
    }
    static constexpr quint32 bits[9] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    static constexpr char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & bits[i])
            text[i + 1] = QLatin1Char(letters[i]);
    // Set-id and sticky bits take the place of x, as ls shows them.
    const auto special = [&text](int at, bool set, char withX, char withoutX) {
        if (set)
            text[at] = QLatin1Char(text[at] == QLatin1Char('x') ? withX : withoutX);
    };
    special(3, mode & S_ISUID, 's', 'S');
    special(6, mode & S_ISGID, 's', 'S');
    special(9, mode & S_ISVTX, 't', 'T');
    return text;
}

} // namespace zodaru
