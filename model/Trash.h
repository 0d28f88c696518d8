// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace zodaru {

// The desktop's Trash (freedesktop.org) for local files the program replaces, through
// QFile::moveToTrash(), so that the user can get them back. Any thread.
namespace Trash {

// Whether `path` (a file, existing or about to be made) can go to a Trash by a rename,
// choosing the Trash as QFile::moveToTrash() does: on the home's file system the home
// Trash ($XDG_DATA_HOME/Trash), which must be on the file's own file system; elsewhere
// $topdir/.Trash/$uid (an administrator's sticky .Trash, not a link) or
// $topdir/.Trash-$uid, existing or made now (the Trash's rules ask for that at once),
// then the home Trash again.
bool isAvailableFor(const QString &path);

// Moves `path` to its Trash; false, with the reason in `error`, when there is none or the
// move failed (the file is then where it was).
bool moveToTrash(const QString &path, QString &error);

} // namespace Trash

} // namespace zodaru
