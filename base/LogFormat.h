// SPDX-License-Identifier: GPL-3.0-or-later
// How the log's lines are made from their formats and arguments, shared by the writer.
#pragma once

#include "base/Log.h"

#include <QByteArray>

namespace zodaru {

// appendLogLine() through the format as compiled once (its pieces kept by the format's
// address, formats being literals). The caller holds the writer's lock: not thread-safe.
void appendCompiledLine(QByteArray &out, const char *format, const LogArg *args, qsizetype count);

} // namespace zodaru
