// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/EngineSettings.h"

#include "ftp/NotificationCenter.h"

namespace zodaru {

TransferEventSink &EngineSettings::sink() const
{
    return events ? *events : NotificationCenter::defaultCenter();
}

} // namespace zodaru
