// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/File.h"

namespace zodaru {

bool isPlainName(QStringView name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/')
        && !name.contains(QChar(0));
}

File::File(const QString &name, qint64 size, qint32 type, const QString &link)
    : _file(name), _link(link), _size(size), _type(type)
{
}

File File::copyOf(const File &other)
{
    // A queue item starts as a plain file that has not finished, whatever it was copied from.
    File copy;
    copy._file = other._file;
    copy._link = other._link;
    copy._permissions = other._permissions;
    copy._remotepath = other._remotepath;
    copy._localpath = other._localpath;
    copy._currentsize = other._currentsize;
    copy._size = other._size;
    copy._modified = other._modified;
    copy._state = other.isCurrent();
    copy._id = other._id;
    copy._display = other._display;
    copy._group = other._group;
    copy._answer = other._answer;
    return copy;
}

QString File::printsize() const
{
    return QString::number(_size == 0 ? _currentsize : _size);
}

QString File::printcurrentsize() const
{
    return QString::number(_currentsize);
}

double File::getAdvance() const
{
    return 100.0 * double(_currentsize) / double(_size);
}

// The fixed status words ("Waiting...", "Done.", "FTP Error", "ERROR ! …") are shown as they
// are in every language. The two this program adds are only marked for translation: the log
// carries them as they are, the transfer tables show them in the user's language.
QString File::getStatus() const
{
    if (_cancelled)
        return QLatin1String(QT_TRANSLATE_NOOP("File", "Cancelled"));
    if (_skipped)
        return QLatin1String(QT_TRANSLATE_NOOP("File", "Skipped"));
    if (_asking)
        return QLatin1String(QT_TRANSLATE_NOOP("File", "Asking..."));
    if (_error)
        return QStringLiteral("FTP Error");
    // Without this an empty file that finished would read "Waiting..." for ever.
    if (_done && _currentsize == _size)
        return QStringLiteral("Done.");
    if (_currentsize == 0)
        return QStringLiteral("Waiting...");
    if (_currentsize < _size) {
        // Single precision on purpose: the table shows what the float quotient gives.
        // The same text as the format "%.2f " without parsing one: this runs for every
        // chunk a transfer moves.
        const float percent = float(_currentsize) / float(_size) * 100.0f;
        return QString::number(double(percent), 'f', 2) + QLatin1Char(' ');
    }
    if (_currentsize == _size)
        return QStringLiteral("Done.");
    // Some listings give no exact size (VMS, for one) and read as 0: a transfer that
    // passes it is still going, or whole once it is done.
    if (_size == 0)
        return _done ? QStringLiteral("Done.") : QLatin1String(QT_TRANSLATE_NOOP("File", "Running..."));
    return QStringLiteral("ERROR ! (%1 > %2)").arg(_currentsize).arg(_size);
}

} // namespace zodaru
