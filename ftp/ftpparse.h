// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reader for one line of a LIST reply. Plain C++ without Qt, so that it can be built
// on its own (the fuzz target compiles this file alone).
//
// Four layouts are understood: EPLF fact lists ("+facts,\tname"), UNIX-style long
// listings (including the NetWare bracketed rights and the owner-less NetPresenz
// variant), VMS-style lines ("NAME.EXT;version ...") and DOS/IIS-style lines
// ("MM-DD-YY  HH:MMxM  <DIR>|size  name").

#include <cstdint>
#include <ctime>

namespace zodaru {

// What ftpparse() found in one line. `name` and `idText` point into the caller's
// line and are not terminated: they live exactly as long as the line does.
struct ParsedListLine final {
    const char *name = nullptr; // null when no name was found
    std::int32_t nameLength = 0;
    std::int32_t canEnter = 0;    // 1: changing into it is worth trying
    std::int32_t canRetrieve = 0; // 1: retrieving it is worth trying
    std::int32_t sizeKind = 0;    // 0 unknown, 1 exact binary size
    std::int64_t size = 0;
    std::int32_t timeKind = 0; // 0 unknown, 1 exact, 2 to the minute (UTC), 3 to the day
    std::int64_t modTime = 0;  // epoch offset + seconds since 1970-01-01 00:00 UTC
    std::int32_t idKind = 0;   // 1: idText identifies the file uniquely on the server
    const char *idText = nullptr;
    std::int32_t idLength = 0;
    const char *permissions = nullptr; // UNIX-style lines: the mode column ("-rw-r--r--")
    std::int32_t permissionsLength = 0;
    const char *linkTarget = nullptr; // UNIX-style links: what follows " -> "
    std::int32_t linkTargetLength = 0;
};

// Fills `fp` from the `len` bytes at `buf` (no terminator needed, nothing outside
// [buf, buf + len) is read) and returns 1 when a file name was found, 0 otherwise.
// A rejected line may leave partial results in `fp`; the listing relies on which ones
// (see the comments in the implementation). Never allocates.
int ftpparse(ParsedListLine *fp, const char *buf, int len);

// The parser's view of the clock, and the two values it derives once per process:
// the offset between the platform's time values and seconds since 1970-01-01 UTC,
// and the current calendar year used to place dates listed without a year.
// Both are cached lock-free and computed at most a handful of times even if two
// threads race on first use (they compute the same value).
class ParserClock final {
public:
    ParserClock() = delete;

    static std::time_t now();
    static std::int64_t epochOffset();
    static std::int64_t currentYear();

    // Tests pin the clock; resetForTesting() returns to the real clock and forgets the
    // cached year and offset so the next line computes them afresh.
    static void setNowForTesting(std::time_t now);
    static void resetForTesting();
};

// Seconds from 1970-01-01 00:00 UTC to 00:00 UTC of the given date (month 0 is
// January). Days out of range run on into the neighbouring months; 29 February of a
// year without one lands on the last leap day before it. Never traps, whatever the input.
std::int64_t dateToSeconds(std::int64_t year, std::int64_t month, std::int64_t day);

// Calendar year (UTC) of a count of seconds since 1970-01-01 00:00 UTC.
std::int64_t yearOfSeconds(std::int64_t seconds);

} // namespace zodaru
