// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace zodaru {

// Which of the two transfer queues: files coming from the server or going to it.
enum class TransferDirection { Download, Upload };

} // namespace zodaru
