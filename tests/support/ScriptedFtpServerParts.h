// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the parts of ScriptedFtpServer share, and nothing else includes.
#include <QString>
#include <QtGlobal>

namespace zodaru::scripted {

// Thrown inside a script when the server is being destroyed: unwinds it quietly.
struct Stopped
{
};

// Thrown inside a script when it cannot go on; recorded in failures().
struct ScriptError
{
    QString what;
};

QString errnoText(const char *what);
void closeFd(int &fd);
// SO_LINGER with a zero timeout turns close() into an RST.
void abortiveClose(int &fd);

} // namespace zodaru::scripted
