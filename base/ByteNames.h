// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// File names are bytes, on a server as on the local disk, and need not be UTF-8. The program
// carries them as QString so that every layer can handle them as text, but decodes them
// losslessly: valid UTF-8 becomes the characters it encodes, and each byte that is not part
// of valid UTF-8 becomes the lone surrogate U+DC00 + byte (as Python's "surrogateescape").
// bytesOfName() gives the exact bytes back, so a command or a system call about an entry
// names exactly what the server or the disk listed. Only what is shown to the user goes
// through displayedName().
namespace zodaru {

// The lossless text of a name's bytes.
QString nameFromBytes(QByteArrayView bytes);
// The exact bytes of a name made by nameFromBytes(); other text is encoded as UTF-8.
QByteArray bytesOfName(QStringView name);
// The name as a user sees it: each byte that is not UTF-8 becomes U+FFFD.
QString displayedName(QStringView name);
// True when the name holds bytes that are not UTF-8.
bool hasUndecodedBytes(QStringView name);

// For the log: control characters become \r, \n, \t or \xNN and undecoded bytes \xNN, so
// text from the network can neither move the terminal's cursor nor forge a log line.
QString escapedForLog(QStringView text);

} // namespace zodaru
