// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ftpparse.h"

#include <atomic>

namespace zodaru {

namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;

// Listing fields are untrusted and may hold any number of digits (or non-digits), so
// every sum and product that can see them wraps around instead of overflowing: the
// value of an absurd field is meaningless, but reading it is never undefined.
constexpr i64 add(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) + static_cast<u64>(b)); }
constexpr i64 sub(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) - static_cast<u64>(b)); }
constexpr i64 mul(i64 a, i64 b) { return static_cast<i64>(static_cast<u64>(a) * static_cast<u64>(b)); }

constexpr i64 kSecondsPerDay = 86400;
// Times listed without a year are placed no further than this before now.
constexpr i64 kYearGuessWindow = 350 * kSecondsPerDay;
// Days from 1970-01-01 to 2000-03-01, the start of the 400-year cycle used below.
constexpr i64 kDaysTo2000March = 11017;

// Servers are not trusted to put digits where digits belong: each byte counts as its
// signed value minus '0', so "1x" reads as 10 + 72. Callers decide what is plausible.
i64 decimal(const char *p, i64 n)
{
    u64 value = 0;
    for (i64 k = 0; k < n; ++k)
        value = value * 10u + static_cast<u64>(static_cast<i64>(static_cast<signed char>(p[k])) - 48);
    return static_cast<i64>(value);
}

// Index 0..11 of a three-letter month name in any case, or -1.
int monthIndex(const char *p, i64 n)
{
    static constexpr char kMonths[12][3] = {
        {'j', 'a', 'n'}, {'f', 'e', 'b'}, {'m', 'a', 'r'}, {'a', 'p', 'r'}, {'m', 'a', 'y'}, {'j', 'u', 'n'},
        {'j', 'u', 'l'}, {'a', 'u', 'g'}, {'s', 'e', 'p'}, {'o', 'c', 't'}, {'n', 'o', 'v'}, {'d', 'e', 'c'},
    };
    if (n != 3)
        return -1;
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (int k = 0; k < 3 && same; ++k) {
            const char lower = kMonths[m][k];
            same = p[k] == lower || p[k] == static_cast<char>(lower - 32);
        }
        if (same)
            return m;
    }
    return -1;
}

// Time of 00:00 UTC on (month, day) in the earliest year, from last year on, that puts
// it less than 350 days before now. Dates a little in the future are therefore kept in
// the future: servers show the time instead of the year for recent and upcoming files.
i64 guessYearTime(i64 month, i64 day)
{
    const i64 now = sub(static_cast<i64>(ParserClock::now()), ParserClock::epochOffset());
    const i64 year = ParserClock::currentYear();
    for (i64 k = -1; k <= 99; ++k) {
        const i64 t = dateToSeconds(add(year, k), month, day);
        if (sub(now, t) < kYearGuessWindow)
            return t;
    }
    // Only a day field far below zero (non-digits) gets here; no year fits, so fall
    // back to this year rather than to a date a century away.
    return dateToSeconds(year, month, day);
}

i64 minuteTime(i64 date, i64 hour, i64 minute)
{
    return add(add(ParserClock::epochOffset(), date), add(mul(hour, 3600), mul(minute, 60)));
}

// Cursor for the VMS- and DOS-style layouts, whose fields are found by walking to or
// over separators. Every walk reports false when it runs into the end of the line,
// which rejects the line.
struct Walk final {
    const char *buf;
    int len;
    int j = 0;

    bool to(char c)
    {
        while (j < len && buf[j] != c)
            ++j;
        return j < len;
    }
    bool toEither(char a, char b)
    {
        while (j < len && buf[j] != a && buf[j] != b)
            ++j;
        return j < len;
    }
    bool over(char c)
    {
        while (j < len && buf[j] == c)
            ++j;
        return j < len;
    }
    // The text up to the next `c` as [start, start + length), then over the run of `c`
    // after it: false when the line ends first.
    bool field(char c, int &start, int &length)
    {
        start = j;
        if (!to(c))
            return false;
        length = j - start;
        return over(c);
    }
};

// "+i8388621.29609,m824255902,/,\tdev": facts separated by commas, a tab, the name.
int parseFacts(ParsedListLine *fp, const char *buf, int len)
{
    int i = 1;
    for (int j = 1; j < len; ++j) {
        if (buf[j] == '\t') {
            fp->name = buf + j + 1;
            fp->nameLength = len - j - 1;
            return 1;
        }
        if (buf[j] != ',')
            continue;
        if (i < j) {
            const char *value = buf + i + 1;
            const int valueLength = j - i - 1;
            switch (buf[i]) {
            case '/':
                fp->canEnter = 1;
                break;
            case 'r':
                fp->canRetrieve = 1;
                break;
            case 's':
                fp->sizeKind = 1;
                fp->size = decimal(value, valueLength);
                break;
            case 'm':
                fp->timeKind = 1;
                fp->modTime = add(ParserClock::epochOffset(), decimal(value, valueLength));
                break;
            case 'i':
                fp->idKind = 1;
                fp->idText = value;
                fp->idLength = valueLength;
                break;
            default:
                break;
            }
        }
        i = j + 1;
    }
    // No tab: the line is rejected, but the facts already read stay in the record.
    return 0;
}

// "-rw-r--r--   1 bob  users  2718 Dec 24 09:05 notes.txt" and its relatives. Tokens are
// read by position; the size is the last number before the month name, which copes with
// a missing group column. Nothing but the type presets reaches the record unless the
// whole line is accepted.
int parseUnix(ParsedListLine *fp, const char *buf, int len)
{
    switch (buf[0]) {
    case '-':
        fp->canRetrieve = 1;
        break;
    case 'd':
        fp->canEnter = 1;
        break;
    case 'l':
        fp->canEnter = 1;
        fp->canRetrieve = 1;
        break;
    default:
        break;
    }

    int state = 1;
    int i = 0;
    i64 size = 0;
    i64 month = 0;
    i64 day = 0;
    for (int j = 1; j < len && state != 8; ++j) {
        if (buf[j] != ' ' || buf[j - 1] == ' ')
            continue;
        const char *token = buf + i;
        const int n = j - i;
        switch (state) {
        case 1: // permissions
            fp->permissions = token;
            fp->permissionsLength = n;
            state = 2;
            break;
        case 2: // link count; NetPresenz writes "folder" here and has no owner column
            state = (n == 6 && token[0] == 'f') ? 4 : 3;
            break;
        case 3: // owner
            state = 4;
            break;
        case 4:
            size = decimal(token, n);
            state = 5;
            break;
        case 5: // group, size or month
            if (const int m = monthIndex(token, n); m >= 0) {
                month = m;
                state = 6;
            } else {
                size = decimal(token, n);
            }
            break;
        case 6:
            day = decimal(token, n);
            state = 7;
            break;
        case 7: // "9:05", "19:31" or a year
            if (n == 4 && token[1] == ':') {
                fp->timeKind = 2;
                fp->modTime = minuteTime(guessYearTime(month, day), decimal(token, 1), decimal(token + 2, 2));
            } else if (n == 5 && token[2] == ':') {
                fp->timeKind = 2;
                fp->modTime = minuteTime(guessYearTime(month, day), decimal(token, 2), decimal(token + 3, 2));
            } else if (n >= 4) {
                fp->timeKind = 3;
                fp->modTime = add(ParserClock::epochOffset(), dateToSeconds(decimal(token, n), month, day));
            } else {
                return 0;
            }
            // Only the one space after the time belongs to the layout; further spaces
            // are part of the name (names may begin with spaces).
            fp->name = buf + j + 1;
            fp->nameLength = len - j - 1;
            state = 8;
            break;
        default:
            break;
        }
        i = j + 1;
        while (i < len && buf[i] == ' ')
            ++i;
    }
    if (state != 8)
        return 0;

    fp->size = size;
    fp->sizeKind = 1;

    if (buf[0] == 'l') {
        // "name -> target": the name is what comes before the first arrow.
        for (int k = 0; k + 3 < fp->nameLength; ++k) {
            const char *p = fp->name + k;
            if (p[0] == ' ' && p[1] == '-' && p[2] == '>' && p[3] == ' ') {
                fp->linkTarget = p + 4;
                fp->linkTargetLength = fp->nameLength - k - 4;
                fp->nameLength = k;
                break;
            }
        }
    }

    // NetWare ("d [RWCEAFMS] owner ...") pads the name with a fixed run of spaces.
    if ((buf[1] == ' ' || buf[1] == '[') && fp->nameLength >= 4 && fp->name[0] == ' ' && fp->name[1] == ' '
        && fp->name[2] == ' ') {
        fp->name += 3;
        fp->nameLength -= 3;
    }
    return 1;
}

// "CORE.DIR;1      1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)". The name and its kind
// are decided before the rest is read, and stay in the record if the rest is rejected.
int parseVms(ParsedListLine *fp, const char *buf, int len, int semicolon)
{
    int i = semicolon;
    fp->name = buf;
    fp->nameLength = i;
    if (i >= 5 && buf[i - 4] == '.' && buf[i - 3] == 'D' && buf[i - 2] == 'I' && buf[i - 1] == 'R') {
        fp->nameLength = i - 4;
        fp->canEnter = 1;
    }
    if (!fp->canEnter)
        fp->canRetrieve = 1;

    Walk w{buf, len, i};
    // Version, spaces, the size field (blocks, not bytes: the size stays unknown), spaces.
    if (!w.to(' ') || !w.over(' ') || !w.to(' ') || !w.over(' '))
        return 0;

    int at = 0;
    int n = 0;
    if (!w.field('-', at, n))
        return 0;
    const i64 day = decimal(buf + at, n);
    if (!w.field('-', at, n))
        return 0;
    const int month = monthIndex(buf + at, n);
    if (month < 0)
        return 0;
    if (!w.field(' ', at, n))
        return 0;
    const i64 year = decimal(buf + at, n);
    if (!w.field(':', at, n))
        return 0;
    const i64 hour = decimal(buf + at, n);
    i = w.j;
    if (!w.toEither(':', ' '))
        return 0;
    const i64 minute = decimal(buf + i, w.j - i);

    fp->timeKind = 2;
    fp->modTime = minuteTime(dateToSeconds(year, month, day), hour, minute);
    return 1;
}

// "04-27-00  09:09PM       <DIR>          licensed" (IIS and other DOS-like servers).
// The directory marker or the size is recorded as soon as it is read; the name never
// is unless the line is accepted.
int parseDos(ParsedListLine *fp, const char *buf, int len)
{
    Walk w{buf, len, 0};
    int i = 0;
    int n = 0;
    if (!w.field('-', i, n))
        return 0;
    const i64 month = sub(decimal(buf + i, n), 1);
    if (!w.field('-', i, n))
        return 0;
    const i64 day = decimal(buf + i, n);
    i = w.j;
    if (!w.to(' '))
        return 0;
    i64 year = decimal(buf + i, w.j - i);
    // Two-digit years: 00-49 are this century, 50-99 the last one.
    if (year < 50)
        year = add(year, 2000);
    if (year < 1000)
        year = add(year, 1900);

    if (!w.over(' '))
        return 0;
    if (!w.field(':', i, n))
        return 0;
    i64 hour = decimal(buf + i, n);
    i = w.j;
    if (!w.toEither('A', 'P'))
        return 0;
    const i64 minute = decimal(buf + i, w.j - i);

    // 12-hour clock: 12:xxAM is just after midnight, 12:xxPM just after noon.
    if (hour == 12)
        hour = 0;
    if (buf[w.j] == 'A' && ++w.j == len)
        return 0;
    if (buf[w.j] == 'P') {
        hour = add(hour, 12);
        if (++w.j == len)
            return 0;
    }
    if (buf[w.j] == 'M' && ++w.j == len)
        return 0;

    if (!w.over(' '))
        return 0;
    if (buf[w.j] == '<') {
        fp->canEnter = 1;
        if (!w.to(' '))
            return 0;
    } else {
        i = w.j;
        if (!w.to(' '))
            return 0;
        fp->size = decimal(buf + i, w.j - i);
        fp->sizeKind = 1;
        fp->canRetrieve = 1;
    }
    if (!w.over(' '))
        return 0;

    fp->name = buf + w.j;
    fp->nameLength = len - w.j;
    fp->timeKind = 2;
    fp->modTime = minuteTime(dateToSeconds(year, month, day), hour, minute);
    return 1;
}

int firstSemicolon(const char *buf, int len)
{
    for (int k = 0; k < len; ++k) {
        if (buf[k] == ';')
            return k;
    }
    return -1;
}

// A line whose first character looks like a UNIX type letter may still be a VMS entry
// whose name is in lower case ("setup.exe;3 ...", "drivers.DIR;1 ..."): when the UNIX reading rejects it and the VMS
// reading accepts all of it, the VMS entry wins. Otherwise the rejected UNIX record (its
// type presets) stands, so a broken UNIX line is not turned into a half-read VMS name.
int parseUnixOrVms(ParsedListLine *fp, const char *buf, int len)
{
    if (parseUnix(fp, buf, len))
        return 1;
    const int semicolon = firstSemicolon(buf, len);
    if (semicolon < 0)
        return 0;
    const ParsedListLine rejected = *fp;
    *fp = ParsedListLine{};
    if (parseVms(fp, buf, len, semicolon))
        return 1;
    *fp = rejected;
    return 0;
}

// The clock seam. Relaxed loads of the value are ordered by the acquire on the flag.
std::atomic<bool> testNowSet{false};
std::atomic<std::time_t> testNow{0};
std::atomic<bool> offsetKnown{false};
std::atomic<i64> offsetValue{0};
std::atomic<bool> yearKnown{false};
std::atomic<i64> yearValue{0};

i64 computeEpochOffset()
{
    const std::time_t zero = 0;
    std::tm parts{};
    if (!gmtime_r(&zero, &parts))
        return 0;
    const i64 date = dateToSeconds(i64{parts.tm_year} + 1900, parts.tm_mon, parts.tm_mday);
    return -(date + i64{parts.tm_hour} * 3600 + i64{parts.tm_min} * 60 + parts.tm_sec);
}

} // namespace

std::int64_t dateToSeconds(std::int64_t year, std::int64_t month, std::int64_t day)
{
    // Months are counted from March so that the leap day is the last day of the year;
    // then 4-year, 100-year and 400-year cycles are peeled off in turn. The last day of
    // each cycle (d == 365, d == 36524) is the one the shorter cycle cannot hold.
    i64 m;
    if (month >= 2) {
        m = sub(month, 2);
    } else {
        m = add(month, 10);
        year = sub(year, 1);
    }
    i64 d = add(add(mul(10, sub(day, 1)), 5), mul(306, m)) / 10;
    if (d == 365) {
        year = sub(year, 3);
        d = 1460;
    } else {
        d = add(d, mul(365, year % 4));
    }
    year /= 4;
    d = add(d, mul(1461, year % 25));
    year /= 25;
    if (d == 36524) {
        year = sub(year, 3);
        d = 146096;
    } else {
        d = add(d, mul(36524, year % 4));
    }
    year /= 4;
    d = add(d, add(mul(146097, sub(year, 5)), kDaysTo2000March));
    return mul(d, kSecondsPerDay);
}

std::int64_t yearOfSeconds(std::int64_t seconds)
{
    i64 day = seconds / kSecondsPerDay;
    if (seconds % kSecondsPerDay < 0)
        --day;
    day -= kDaysTo2000March;

    i64 year = 5 + day / 146097;
    day %= 146097;
    if (day < 0) {
        day += 146097;
        --year;
    }
    year *= 4;
    if (day == 146096) {
        year += 3;
        day = 36524;
    } else {
        year += day / 36524;
        day %= 36524;
    }
    year = 25 * year + day / 1461;
    day %= 1461;
    year *= 4;
    if (day == 1460) {
        year += 3;
        day = 365;
    } else {
        year += day / 365;
        day %= 365;
    }
    // Days 306 and later of a March-based year are January and February of the next.
    if ((10 * day + 5) / 306 >= 10)
        ++year;
    return year;
}

std::time_t ParserClock::now()
{
    if (testNowSet.load(std::memory_order_acquire))
        return testNow.load(std::memory_order_relaxed);
    return std::time(nullptr);
}

std::int64_t ParserClock::epochOffset()
{
    if (offsetKnown.load(std::memory_order_acquire))
        return offsetValue.load(std::memory_order_relaxed);
    const i64 offset = computeEpochOffset();
    offsetValue.store(offset, std::memory_order_relaxed);
    offsetKnown.store(true, std::memory_order_release);
    return offset;
}

std::int64_t ParserClock::currentYear()
{
    // Computed once: a process that runs across New Year keeps the old year, which
    // only shifts where the year guess starts looking.
    if (yearKnown.load(std::memory_order_acquire))
        return yearValue.load(std::memory_order_relaxed);
    const i64 year = yearOfSeconds(sub(static_cast<i64>(now()), epochOffset()));
    yearValue.store(year, std::memory_order_relaxed);
    yearKnown.store(true, std::memory_order_release);
    return year;
}

void ParserClock::setNowForTesting(std::time_t now)
{
    testNow.store(now, std::memory_order_relaxed);
    testNowSet.store(true, std::memory_order_release);
}

void ParserClock::resetForTesting()
{
    testNowSet.store(false, std::memory_order_release);
    yearKnown.store(false, std::memory_order_release);
    offsetKnown.store(false, std::memory_order_release);
}

int ftpparse(ParsedListLine *fp, const char *buf, int len)
{
    *fp = ParsedListLine{};
    if (len < 2)
        return 0;

    switch (buf[0]) {
    case '+':
        return parseFacts(fp, buf, len);
    case '-':
    case 'd':
    case 'l':
    case 'b':
    case 'c':
    case 'p':
    case 's':
        return parseUnixOrVms(fp, buf, len);
    default:
        break;
    }
    if (const int semicolon = firstSemicolon(buf, len); semicolon >= 0)
        return parseVms(fp, buf, len, semicolon);
    if (buf[0] >= '0' && buf[0] <= '9')
        return parseDos(fp, buf, len);
    return 0;
}

} // namespace zodaru
