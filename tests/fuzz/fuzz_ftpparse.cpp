// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the listing line reader. The sanitizers catch reads outside the
// line and undefined arithmetic; the checks below catch views that leave the line.
#include "ftp/ftpparse.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void checkView(const char *line, std::size_t size, const char *view, std::int32_t length)
{
    if (!view)
        return;
    if (view < line || view > line + size || length < 0 || static_cast<std::size_t>(length) > size
        || static_cast<std::size_t>(view - line) + static_cast<std::size_t>(length) > size)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A fixed clock keeps every run reproducible.
    static const bool clockPinned = [] {
        zodaru::ParserClock::setNowForTesting(1796731200); // 2026-12-08 12:00 UTC
        return true;
    }();
    (void)clockPinned;

    if (size > 1 << 20)
        return 0;
    const char *line = reinterpret_cast<const char *>(data);
    zodaru::ParsedListLine record;
    const int found = zodaru::ftpparse(&record, line, static_cast<int>(size));
    if (found != 0 && found != 1)
        std::abort();
    if (found && !record.name)
        std::abort();
    checkView(line, size, record.name, record.nameLength);
    checkView(line, size, record.idText, record.idLength);
    return 0;
}
