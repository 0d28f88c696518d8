// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ftpparse.h"

#include <QDateTime>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace zodaru;

namespace {

// Every listed time is checked against Qt's calendar, not against the parser's own
// date arithmetic.
qint64 utc(int year, int month, int day, int hour = 0, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), Qt::UTC).toSecsSinceEpoch();
}

// The clock the listing tables are read against: 2026-12-08 12:00 UTC.
const qint64 kNow = utc(2026, 12, 8, 12, 0);

// One listing line and everything the parser should leave in the record. `name` and
// `id` null mean the record's pointer must be null.
struct Row {
    const char *tag;
    QByteArray line;
    int result = 0;
    const char *name = nullptr;
    int canEnter = 0;
    int canRetrieve = 0;
    int sizeKind = 0;
    qint64 size = 0;
    int timeKind = 0;
    qint64 modTime = 0;
    const char *id = nullptr;
};

const std::vector<Row> &listingRows()
{
    static const std::vector<Row> rows = {
        // UNIX-style, as vsftpd, ProFTPD, Pure-FTPd and plain ls -l print it.
        {.tag = "unix file with group", .line = "-rw-r--r--    1 1000     1000         2718 Dec 24 09:05 notes.txt",
         .result = 1, .name = "notes.txt", .canRetrieve = 1, .sizeKind = 1, .size = 2718, .timeKind = 2,
         .modTime = utc(2025, 12, 24, 9, 5)},
        {.tag = "unix file without group", .line = "-rw-r--r--   1 root     2718 Dec 24 09:05 notes.txt", .result = 1,
         .name = "notes.txt", .canRetrieve = 1, .sizeKind = 1, .size = 2718, .timeKind = 2,
         .modTime = utc(2025, 12, 24, 9, 5)},
        {.tag = "unix directory with year", .line = "drwxr-xr-x    2 ftp      ftp          4096 Mar  3  2021 pub",
         .result = 1, .name = "pub", .canEnter = 1, .sizeKind = 1, .size = 4096, .timeKind = 3,
         .modTime = utc(2021, 3, 3)},
        {.tag = "unix upcoming date goes into this year", .line = "-rw-r--r-- 1 u g 1 Dec 23 00:00 x", .result = 1,
         .name = "x", .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2026, 12, 23)},
        {.tag = "unix one-digit hour", .line = "-rw-r--r-- 1 u g 1 Jun 1 9:05 x", .result = 1, .name = "x",
         .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2026, 6, 1, 9, 5)},
        {.tag = "unix name with spaces", .line = "-rw-r--r-- 1 u g 10 Nov 30 23:59 my  file.txt ", .result = 1,
         .name = "my  file.txt ", .canRetrieve = 1, .sizeKind = 1, .size = 10, .timeKind = 2,
         .modTime = utc(2026, 11, 30, 23, 59)},
        {.tag = "unix link", .line = "lrwxrwxrwx   1 root     root           11 Jan  5  2020 latest -> release-1.2",
         .result = 1, .name = "latest", .canEnter = 1, .canRetrieve = 1, .sizeKind = 1, .size = 11, .timeKind = 3,
         .modTime = utc(2020, 1, 5)},
        {.tag = "unix link with arrows in target", .line = "lrwxrwxrwx 1 u g 3 Jan 5 2020 a b -> c -> d", .result = 1,
         .name = "a b", .canEnter = 1, .canRetrieve = 1, .sizeKind = 1, .size = 3, .timeKind = 3,
         .modTime = utc(2020, 1, 5)},
        {.tag = "unix link name starting with arrow", .line = "lrwxrwxrwx 1 u g 3 Jan 5 2020  -> b", .result = 1,
         .name = "", .canEnter = 1, .canRetrieve = 1, .sizeKind = 1, .size = 3, .timeKind = 3,
         .modTime = utc(2020, 1, 5)},
        {.tag = "unix link without arrow", .line = "lrwxrwxrwx 1 u g 3 Jan 5 2020 a->b", .result = 1, .name = "a->b",
         .canEnter = 1, .canRetrieve = 1, .sizeKind = 1, .size = 3, .timeKind = 3, .modTime = utc(2020, 1, 5)},
        {.tag = "unix link with empty target", .line = "lrwxrwxrwx 1 u g 3 Jan 5 2020 a -> ", .result = 1,
         .name = "a", .canEnter = 1, .canRetrieve = 1, .sizeKind = 1, .size = 3, .timeKind = 3,
         .modTime = utc(2020, 1, 5)},
        {.tag = "unix file keeps its arrow", .line = "-rw-r--r-- 1 u g 3 Jan 5 2020 a -> b", .result = 1,
         .name = "a -> b", .canRetrieve = 1, .sizeKind = 1, .size = 3, .timeKind = 3, .modTime = utc(2020, 1, 5)},
        {.tag = "unix character device", .line = "crw-rw-rw-   1 root     wheel      2,   2 Jan  1  2020 null",
         .result = 1, .name = "null", .sizeKind = 1, .size = 2, .timeKind = 3, .modTime = utc(2020, 1, 1)},
        {.tag = "unix pipe", .line = "prw-r--r-- 1 u g 0 Jan 1 2020 fifo", .result = 1, .name = "fifo", .sizeKind = 1,
         .timeKind = 3, .modTime = utc(2020, 1, 1)},
        {.tag = "unix socket", .line = "srwxrwxrwx 1 u g 0 Feb 2 2020 sock", .result = 1, .name = "sock", .sizeKind = 1,
         .timeKind = 3, .modTime = utc(2020, 2, 2)},
        {.tag = "unix block device", .line = "brw-rw---- 1 root disk 8, 0 Mar 4 2020 sda", .result = 1, .name = "sda",
         .sizeKind = 1, .timeKind = 3, .modTime = utc(2020, 3, 4)},
        {.tag = "unix upper-case month", .line = "-rw-r--r-- 1 u g 7 JAN 1 2020 x", .result = 1, .name = "x",
         .canRetrieve = 1, .sizeKind = 1, .size = 7, .timeKind = 3, .modTime = utc(2020, 1, 1)},
        {.tag = "unix mixed-case month", .line = "-rw-r--r-- 1 u g 7 sEp 1 2020 x", .result = 1, .name = "x",
         .canRetrieve = 1, .sizeKind = 1, .size = 7, .timeKind = 3, .modTime = utc(2020, 9, 1)},
        {.tag = "unix no-month token is a size", .line = "-rw-r--r-- 1 u g 5 Dex 7 Jan 2 2020 x", .result = 1,
         .name = "x", .canRetrieve = 1, .sizeKind = 1, .size = 7, .timeKind = 3, .modTime = utc(2020, 1, 2)},
        {.tag = "unix five-character year", .line = "-rw-r--r-- 1 u g 1 Jan 1 12345 x", .result = 1, .name = "x",
         .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(12345, 1, 1)},
        {.tag = "unix non-digit in day", .line = "-rw-r--r-- 1 u g 5 Jan 1x 1994 f", .result = 1, .name = "f",
         .canRetrieve = 1, .sizeKind = 1, .size = 5, .timeKind = 3, .modTime = utc(1994, 3, 23)},
        // No year in the guessing range fits a day this far below zero: this year is used
        // (one day on from the calendar, as negative day offsets divide toward zero).
        {.tag = "unix day far below zero", .line = "-rw-r--r-- 1 u g 5 Jan !!!!!!!! 10:00 f", .result = 1,
         .name = "f", .canRetrieve = 1, .sizeKind = 1, .size = 5, .timeKind = 2,
         .modTime = utc(2026, 1, 1, 10, 0) + (-15LL * 11111111) * 86400},
        {.tag = "unix leap day of a common year", .line = "-rw-r--r-- 1 u g 1 Feb 29 2023 x", .result = 1, .name = "x",
         .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 2, 29)},
        {.tag = "unix two spaces before name", .line = "-rw-r--r-- 1 u g 1 Jan 5 2020  x", .result = 1, .name = " x",
         .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 1, 5)},
        {.tag = "unix four spaces kept without bracket", .line = "-rw-r--r-- 1 u g 1 Jan 5 2020    x", .result = 1,
         .name = "   x", .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 1, 5)},
        {.tag = "unix ends after year", .line = "-rw-r--r-- 1 u g 1 Jan 5 2020 ", .result = 1, .name = "",
         .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 1, 5)},

        // NetPresenz (owner-less, "folder" in the link-count column) and NetWare (bracketed).
        {.tag = "netpresenz folder", .line = "drwxrwxr-x               folder        3 Oct 10  2019 photos",
         .result = 1, .name = "photos", .canEnter = 1, .sizeKind = 1, .size = 3, .timeKind = 3,
         .modTime = utc(2019, 10, 10)},
        {.tag = "netpresenz file", .line = "-------r--         326  1391972  1392298 Nov 22  1995 MegaPhone.sit",
         .result = 1, .name = "MegaPhone.sit", .canRetrieve = 1, .sizeKind = 1, .size = 1392298, .timeKind = 3,
         .modTime = utc(1995, 11, 22)},
        {.tag = "netware directory", .line = "d [R----F--] supervisor            512       Jan 16 18:53    login",
         .result = 1, .name = "login", .canEnter = 1, .sizeKind = 1, .size = 512, .timeKind = 2,
         .modTime = utc(2026, 1, 16, 18, 53)},
        {.tag = "netware file", .line = "- [RWCEAFMS] rhesus             214059       Oct 20 15:27    cx.exe",
         .result = 1, .name = "cx.exe", .canRetrieve = 1, .sizeKind = 1, .size = 214059, .timeKind = 2,
         .modTime = utc(2026, 10, 20, 15, 27)},
        {.tag = "bracket right after type", .line = "d[RWCEAFMS] 1 owner 512 Jan 16 18:53    sub", .result = 1,
         .name = "sub", .canEnter = 1, .sizeKind = 1, .size = 512, .timeKind = 2,
         .modTime = utc(2026, 1, 16, 18, 53)},
        {.tag = "netware five spaces leave one", .line = "- [R----F--] u 1 Jan 5 2020     x", .result = 1,
         .name = " x", .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 1, 5)},
        {.tag = "netware three spaces leave two", .line = "- [R----F--] u 1 Jan 5 2020   x", .result = 1,
         .name = "  x", .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 1, 5)},
        {.tag = "netware name of three spaces stays", .line = "- [R----F--] u 1 Jan 5 2020    ", .result = 1,
         .name = "   ", .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 3, .modTime = utc(2020, 1, 5)},

        // Rejected UNIX-style lines keep only what their first character says.
        {.tag = "total line", .line = "total 2"},
        {.tag = "unix cut before name", .line = "drwxr-xr-x 2 u g 4096 Mar 3 2021", .canEnter = 1},
        {.tag = "unix short time token", .line = "-rw-r--r-- 1 u g 1 Jan 1 123 x", .canRetrieve = 1},
        {.tag = "unix no month", .line = "-rw-r--r-- 1 u g 1 2 3 4 5 6 7 x", .canRetrieve = 1},
        {.tag = "unix six-digit link count is no folder", .line = "-rw-r--r-- 100000 2718 Dec 24 09:05 x",
         .canRetrieve = 1},
        {.tag = "unix link cut short", .line = "lrwx", .canEnter = 1, .canRetrieve = 1},

        // DOS-style, as IIS prints it.
        {.tag = "dos directory", .line = "04-27-00  09:09PM       <DIR>          licensed", .result = 1,
         .name = "licensed", .canEnter = 1, .timeKind = 2, .modTime = utc(2000, 4, 27, 21, 9)},
        {.tag = "dos file", .line = "04-14-00  03:47PM                  589 readme.htm", .result = 1,
         .name = "readme.htm", .canRetrieve = 1, .sizeKind = 1, .size = 589, .timeKind = 2,
         .modTime = utc(2000, 4, 14, 15, 47)},
        {.tag = "dos four-digit year, midnight", .line = "12-08-2026  12:10AM  1024 a b.txt", .result = 1,
         .name = "a b.txt", .canRetrieve = 1, .sizeKind = 1, .size = 1024, .timeKind = 2,
         .modTime = utc(2026, 12, 8, 0, 10)},
        {.tag = "dos noon", .line = "01-02-99  12:00PM  1 x", .result = 1, .name = "x", .canRetrieve = 1,
         .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(1999, 1, 2, 12, 0)},
        {.tag = "dos evening, year 49", .line = "07-04-49  07:30PM  1 x", .result = 1, .name = "x", .canRetrieve = 1,
         .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2049, 7, 4, 19, 30)},
        {.tag = "dos year 50", .line = "07-04-50  07:30AM  1 x", .result = 1, .name = "x", .canRetrieve = 1,
         .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(1950, 7, 4, 7, 30)},
        {.tag = "dos year 999", .line = "01-01-999 01:00AM 1 x", .result = 1, .name = "x", .canRetrieve = 1,
         .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2899, 1, 1, 1, 0)},
        {.tag = "dos 30 february", .line = "02-30-24  01:00AM  1 x", .result = 1, .name = "x", .canRetrieve = 1,
         .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2024, 3, 1, 1, 0)},
        {.tag = "dos day zero", .line = "01-00-24  01:00AM  1 x", .result = 1, .name = "x", .canRetrieve = 1,
         .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2023, 12, 31, 1, 0)},
        {.tag = "dos 29 february 2100", .line = "02-29-2100  01:00AM  1 x", .result = 1, .name = "x",
         .canRetrieve = 1, .sizeKind = 1, .size = 1, .timeKind = 2, .modTime = utc(2000, 2, 29, 1, 0)},
        {.tag = "dos ends after marker", .line = "04-27-00  09:09PM       <DIR>", .canEnter = 1},
        {.tag = "dos ends in spaces after marker", .line = "04-27-00  09:09PM       <DIR>   ", .canEnter = 1},
        {.tag = "dos ends after size and space", .line = "04-14-00  03:47PM    589 ", .canRetrieve = 1,
         .sizeKind = 1, .size = 589},
        {.tag = "dos ends inside size", .line = "04-14-00  03:47PM    589"},
        {.tag = "dos ends after AM", .line = "04-14-00  03:47AM"},
        {.tag = "dos date only", .line = "04-14-00"},

        // VMS-style.
        {.tag = "vms directory", .line = "CORE.DIR;1      1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)", .result = 1,
         .name = "CORE", .canEnter = 1, .timeKind = 2, .modTime = utc(1996, 9, 8, 16, 9)},
        {.tag = "vms file", .line = "00README.TXT;1      2 30-DEC-1996 17:44 [SYSTEM] (RWED,RWED,RE,RE)",
         .result = 1, .name = "00README.TXT", .canRetrieve = 1, .timeKind = 2, .modTime = utc(1996, 12, 30, 17, 44)},
        {.tag = "vms file with seconds",
         .line = "CII-MANUAL.TEX;1  213/216  29-JAN-1996 03:33:12  [ANONYMOU,ANONYMOUS]   (RWED,RWED,,)", .result = 1,
         .name = "CII-MANUAL.TEX", .canRetrieve = 1, .timeKind = 2, .modTime = utc(1996, 1, 29, 3, 33)},
        {.tag = "vms lower-case dir is a file", .line = "info.dir;1 1 8-SEP-1996 16:09 x", .result = 1,
         .name = "info.dir", .canRetrieve = 1, .timeKind = 2, .modTime = utc(1996, 9, 8, 16, 9)},
        {.tag = "vms one-letter directory", .line = "X.DIR;1 1 8-SEP-1996 16:09 x", .result = 1, .name = "X",
         .canEnter = 1, .timeKind = 2, .modTime = utc(1996, 9, 8, 16, 9)},
        {.tag = "vms bare .DIR is a file", .line = ".DIR;1 1 8-SEP-1996 16:09 x", .result = 1, .name = ".DIR",
         .canRetrieve = 1, .timeKind = 2, .modTime = utc(1996, 9, 8, 16, 9)},
        {.tag = "vms bad month", .line = "CORE.DIR;1      1  8-SEX-1996 16:09 [SYSTEM]", .name = "CORE",
         .canEnter = 1},
        {.tag = "vms cut after size", .line = "FOO.TXT;1 2", .name = "FOO.TXT", .canRetrieve = 1},
        {.tag = "vms semicolon at end", .line = "FOO;", .name = "FOO", .canRetrieve = 1},
        {.tag = "vms minute at end of line", .line = "FOO.TXT;1 2 8-SEP-1996 16:09", .name = "FOO.TXT",
         .canRetrieve = 1},

        // VMS names that begin with a UNIX type letter (case-preserving disks, servers that
        // print names in lower case). The VMS reading starts from a clear record: the type
        // letter's presets must not show through.
        {.tag = "vms upper-case directory", .line = "LEVEL1.DIR;1  1/3  5-MAR-1993 18:09:06 [GROUP,OWNER] (RWED,RWED,RE,RE)",
         .result = 1, .name = "LEVEL1", .canEnter = 1, .timeKind = 2, .modTime = utc(1993, 3, 5, 18, 9)},
        {.tag = "vms b", .line = "backup.sav;2        412/420   14-FEB-2001 09:30:15  [BUILDER]  (RWED,RWED,RE,)",
         .result = 1, .name = "backup.sav", .canRetrieve = 1, .timeKind = 2, .modTime = utc(2001, 2, 14, 9, 30)},
        {.tag = "vms c", .line = "config.dat;3  2/3  1-JAN-2000 00:00:59 [SYSTEM] (RWED,RWED,R,)", .result = 1,
         .name = "config.dat", .canRetrieve = 1, .timeKind = 2, .modTime = utc(2000, 1, 1, 0, 0)},
        {.tag = "vms d directory", .line = "drivers.DIR;1  1/3  5-MAR-1993 18:09:06 [GROUP,OWNER] (RWED,RWED,RE,RE)",
         .result = 1, .name = "drivers", .canEnter = 1, .timeKind = 2, .modTime = utc(1993, 3, 5, 18, 9)},
        {.tag = "vms d file", .line = "doc.txt;14 5 31-DEC-1999 23:59 [ANONYMOUS] (RWED,RWED,,)", .result = 1,
         .name = "doc.txt", .canRetrieve = 1, .timeKind = 2, .modTime = utc(1999, 12, 31, 23, 59)},
        {.tag = "vms l", .line = "login.com;7           1/3  12-OCT-2004 07:05:00.12  [SMITH]  (RWED,RWED,RE,)",
         .result = 1, .name = "login.com", .canRetrieve = 1, .timeKind = 2, .modTime = utc(2004, 10, 12, 7, 5)},
        {.tag = "vms p", .line = "paper.tex;1  213/216  29-JAN-1996 03:33:12  [SMITH,DOCS]   (RWED,RWED,,)",
         .result = 1, .name = "paper.tex", .canRetrieve = 1, .timeKind = 2, .modTime = utc(1996, 1, 29, 3, 33)},
        {.tag = "vms s", .line = "setup.exe;5  96/96  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)", .result = 1,
         .name = "setup.exe", .canRetrieve = 1, .timeKind = 2, .modTime = utc(1996, 9, 8, 16, 9)},
        // ... and lines that stay UNIX: accepted ones keep their ';', rejected ones that the
        // VMS reading rejects too keep only the type letter's presets, never a VMS name.
        {.tag = "unix name with semicolon", .line = "drwxr-xr-x 2 u g 4096 Mar 3 2021 v1;2", .result = 1,
         .name = "v1;2", .canEnter = 1, .sizeKind = 1, .size = 4096, .timeKind = 3, .modTime = utc(2021, 3, 3)},
        {.tag = "unix name that reads as vms", .line = "-rw-r--r-- 1 u g 5 Jan 5 2020 x;1 2 5-MAR-1993 18:09 y",
         .result = 1, .name = "x;1 2 5-MAR-1993 18:09 y", .canRetrieve = 1, .sizeKind = 1, .size = 5, .timeKind = 3,
         .modTime = utc(2020, 1, 5)},
        {.tag = "d with semicolon, vms bad month", .line = "data.dir;1 2 8-SEX-1996 16:09 [S] (RWE,RWE,RE,RE)",
         .canEnter = 1},
        {.tag = "l with semicolon, cut short", .line = "log.txt;1 2", .canEnter = 1, .canRetrieve = 1},
        {.tag = "b with semicolon, minute at end", .line = "backup.sav;1 2 8-SEP-1996 16:09"},
        {.tag = "s with semicolon in owner", .line = "srwxrwxrwx 1 u;g 0 Feb 2"},

        // EPLF fact lists.
        {.tag = "eplf directory", .line = "+i8388621.29609,m824255902,/,\tdev", .result = 1, .name = "dev",
         .canEnter = 1, .timeKind = 1, .modTime = 824255902, .id = "8388621.29609"},
        {.tag = "eplf file", .line = "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF", .result = 1, .name = "RFCEPLF",
         .canRetrieve = 1, .sizeKind = 1, .size = 10376, .timeKind = 1, .modTime = 839956783,
         .id = "8388621.44468"},
        {.tag = "eplf empty size fact", .line = "+s,r,\tx", .result = 1, .name = "x", .canRetrieve = 1, .sizeKind = 1},
        {.tag = "eplf facts after tab ignored", .line = "+r,\tname,/,s5,", .result = 1, .name = "name,/,s5,",
         .canRetrieve = 1},
        {.tag = "eplf empty and unknown facts", .line = "+,,up644,\tx y", .result = 1, .name = "x y"},
        {.tag = "eplf high byte counts as negative", .line = "+s1\xff,\tx", .result = 1, .name = "x", .sizeKind = 1,
         .size = 10 + (-1 - 48)},
        {.tag = "eplf no tab keeps facts", .line = "+i42,m100,/,s7,", .canEnter = 1, .sizeKind = 1, .size = 7,
         .timeKind = 1, .modTime = 100, .id = "42"},

        // Too short for any layout.
        {.tag = "empty line", .line = ""},
        {.tag = "one character", .line = "d"},
        {.tag = "no layout", .line = "Listing of /pub"},
    };
    return rows;
}

// The line as a heap block of exactly its length, without terminator, so that the
// address sanitizer catches any read past its end.
std::unique_ptr<char[]> exactCopy(const QByteArray &line)
{
    auto copy = std::make_unique<char[]>(std::max<qsizetype>(line.size(), 1));
    std::memcpy(copy.get(), line.constData(), line.size());
    return copy;
}

// Empty when the record matches the row, else what differs.
QString mismatch(const Row &row, int result, const ParsedListLine &r, const char *buf)
{
    QStringList diffs;
    const auto check = [&diffs](const char *field, qint64 got, qint64 want) {
        if (got != want)
            diffs << QStringLiteral("%1 %2 (want %3)").arg(QLatin1String(field)).arg(got).arg(want);
    };
    const auto checkView = [&](const char *field, const char *got, qint64 length, const char *want) {
        if (!want) {
            if (got)
                diffs << QStringLiteral("%1 not null").arg(QLatin1String(field));
            return;
        }
        if (!got || got < buf || length < 0 || got + length > buf + row.line.size()) {
            diffs << QStringLiteral("%1 not inside the line").arg(QLatin1String(field));
            return;
        }
        const QByteArray seen(got, length);
        if (seen != want)
            diffs << QStringLiteral("%1 \"%2\" (want \"%3\")").arg(QLatin1String(field), QString::fromLatin1(seen),
                                                                  QString::fromLatin1(want));
    };
    check("result", result, row.result);
    checkView("name", r.name, r.nameLength, row.name);
    if (!row.name)
        check("nameLength", r.nameLength, 0);
    check("canEnter", r.canEnter, row.canEnter);
    check("canRetrieve", r.canRetrieve, row.canRetrieve);
    check("sizeKind", r.sizeKind, row.sizeKind);
    check("size", r.size, row.size);
    check("timeKind", r.timeKind, row.timeKind);
    check("modTime", r.modTime, row.modTime);
    check("idKind", r.idKind, row.id ? 1 : 0);
    checkView("idText", r.idText, r.idLength, row.id);
    if (!row.id)
        check("idLength", r.idLength, 0);
    return diffs.join(QStringLiteral(", "));
}

void pinClock(qint64 now)
{
    ParserClock::resetForTesting();
    ParserClock::setNowForTesting(static_cast<std::time_t>(now));
}

} // namespace

class TestFtpParse final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The parser works in UTC only; a far-off local zone must change nothing.
        qputenv("TZ", "Pacific/Kiritimati");
        tzset();
    }
    void init() { pinClock(kNow); }
    void cleanupTestCase() { ParserClock::resetForTesting(); }

    void listingLine_data()
    {
        QTest::addColumn<int>("row");
        const auto &rows = listingRows();
        for (int k = 0; k < static_cast<int>(rows.size()); ++k)
            QTest::newRow(rows[k].tag) << k;
    }

    void listingLine()
    {
        QFETCH(int, row);
        const Row &expected = listingRows()[row];
        const auto buf = exactCopy(expected.line);
        // Leftovers from an earlier line must never show through.
        ParsedListLine record;
        std::memset(static_cast<void *>(&record), 0xA5, sizeof record);
        const int result = ftpparse(&record, buf.get(), static_cast<int>(expected.line.size()));
        const QString diff = mismatch(expected, result, record, buf.get());
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    // All rows through one record, in order and then in reverse: catches anything that
    // survives from one line to the next.
    void wholeListingThroughOneRecord()
    {
        const auto &rows = listingRows();
        ParsedListLine record;
        for (int pass = 0; pass < 2; ++pass) {
            for (int n = 0; n < static_cast<int>(rows.size()); ++n) {
                const Row &expected = rows[pass == 0 ? n : rows.size() - 1 - n];
                const auto buf = exactCopy(expected.line);
                const int result = ftpparse(&record, buf.get(), static_cast<int>(expected.line.size()));
                const QString diff = mismatch(expected, result, record, buf.get());
                QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(expected.tag), diff)));
            }
        }
    }

    void lengthIsHonoured_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("name");
        const QByteArray unix("-rw-r--r-- 1 u g 1 Jan 5 2020 abc;def");
        const QByteArray dos("01-02-99  12:00PM  1 x;");
        QTest::newRow("name ends at length") << unix << int(unix.indexOf(';')) << QByteArray("abc");
        // Were the ';' seen, the line would be read as VMS-style.
        QTest::newRow("semicolon beyond length") << dos << int(dos.indexOf(';')) << QByteArray("x");
        const QByteArray vms("log.txt;1 2 8-SEP-1996 16:09 x");
        QTest::newRow("vms semicolon beyond length") << vms << int(vms.indexOf(';')) << QByteArray();
        QTest::newRow("negative length") << QByteArray("-rw-r--r-- 1 u g 1 Jan 5 2020 abc") << -5 << QByteArray();
    }

    void lengthIsHonoured()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, length);
        QFETCH(QByteArray, name);
        ParsedListLine record;
        const int result = ftpparse(&record, line.constData(), length);
        QCOMPARE(result, name.isNull() ? 0 : 1);
        QCOMPARE(QByteArray(record.name, record.nameLength), name);
    }

    // Fields far too long for 64 bits: any value will do, but the line is still read
    // and the sanitizer build sees no overflow.
    void absurdNumbers_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("name");
        const QByteArray huge(40, '9');
        const QByteArray negative(40, '!');
        QTest::newRow("unix size") << "-rw-r--r-- 1 u g " + huge + " Jan 5 2020 x" << QByteArray("x");
        QTest::newRow("unix day and year") << "-rw-r--r-- 1 u g 1 Jan " + huge + " " + huge + " x" << QByteArray("x");
        QTest::newRow("unix day with guessed year") << "-rw-r--r-- 1 u g 1 Jan " + huge + " 10:00 x"
                                                    << QByteArray("x");
        QTest::newRow("unix negative day") << "-rw-r--r-- 1 u g 1 Jan " + negative + " 10:00 x" << QByteArray("x");
        QTest::newRow("unix time digits") << QByteArray("-rw-r--r-- 1 u g 1 Jan 5 \x80\x80:\x80\x80 x")
                                          << QByteArray("x");
        QTest::newRow("dos fields") << huge + "-" + huge + "-" + huge + " " + huge + ":" + huge + "PM " + huge + " x"
                                    << QByteArray("x");
        QTest::newRow("vms fields") << "A;1 2 " + huge + "-JAN-" + huge + " " + huge + ":" + huge + " x"
                                    << QByteArray("A");
        QTest::newRow("eplf facts") << "+s" + huge + ",m" + huge + ",\tx" << QByteArray("x");
    }

    void absurdNumbers()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, name);
        const auto buf = exactCopy(line);
        ParsedListLine record;
        QCOMPARE(ftpparse(&record, buf.get(), static_cast<int>(line.size())), 1);
        QCOMPARE(QByteArray(record.name, record.nameLength), name);
    }

    void yearGuess_data()
    {
        QTest::addColumn<qint64>("now");
        QTest::addColumn<QByteArray>("listed");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("349 days ago is last year") << kNow << QByteArray("Dec 24 09:05") << utc(2025, 12, 24, 9, 5);
        QTest::newRow("350 days ago is next time") << kNow << QByteArray("Dec 23 09:05") << utc(2026, 12, 23, 9, 5);
        QTest::newRow("exactly 350 days ago is next time")
            << utc(2026, 12, 8) << QByteArray("Dec 23 00:00") << utc(2026, 12, 23);
        QTest::newRow("today") << kNow << QByteArray("Dec 8 23:59") << utc(2026, 12, 8, 23, 59);
        QTest::newRow("new year seen in december")
            << utc(2026, 12, 20) << QByteArray("Jan 1 00:00") << utc(2027, 1, 1);
        QTest::newRow("old year seen on new year's day")
            << utc(2027, 1, 1, 0, 30) << QByteArray("Dec 31 23:59") << utc(2026, 12, 31, 23, 59);
        QTest::newRow("new year seen on new year's day")
            << utc(2027, 1, 1, 0, 30) << QByteArray("Jan 1 00:10") << utc(2027, 1, 1, 0, 10);
        QTest::newRow("leap day seen after one") << utc(2028, 3, 1) << QByteArray("Feb 29 10:00")
                                                 << utc(2028, 2, 29, 10, 0);
        QTest::newRow("leap day seen from a common year")
            << utc(2027, 3, 1) << QByteArray("Feb 29 10:00") << utc(2028, 2, 29, 10, 0);
        QTest::newRow("before the epoch") << utc(1969, 7, 20) << QByteArray("Jul 21 02:56")
                                          << utc(1969, 7, 21, 2, 56);
    }

    void yearGuess()
    {
        QFETCH(qint64, now);
        QFETCH(QByteArray, listed);
        QFETCH(qint64, expected);
        pinClock(now);
        const QByteArray line = "-rw-r--r-- 1 u g 1 " + listed + " x";
        ParsedListLine record;
        QCOMPARE(ftpparse(&record, line.constData(), static_cast<int>(line.size())), 1);
        QCOMPARE(record.timeKind, 2);
        QCOMPARE(QDateTime::fromSecsSinceEpoch(record.modTime, Qt::UTC),
                 QDateTime::fromSecsSinceEpoch(expected, Qt::UTC));
    }

    // The year is taken once per process; only the seam's reset makes it look again.
    void currentYearIsKept()
    {
        pinClock(utc(2026, 12, 31, 23, 0));
        QCOMPARE(ParserClock::currentYear(), std::int64_t{2026});
        ParserClock::setNowForTesting(static_cast<std::time_t>(utc(2031, 6, 1)));
        QCOMPARE(ParserClock::currentYear(), std::int64_t{2026});
        pinClock(utc(2031, 6, 1));
        QCOMPARE(ParserClock::currentYear(), std::int64_t{2031});
        QCOMPARE(ParserClock::epochOffset(), std::int64_t{0});
    }

    void dateToSeconds_data()
    {
        QTest::addColumn<qint64>("year");
        QTest::addColumn<qint64>("month");
        QTest::addColumn<qint64>("day");
        QTest::addColumn<QDate>("expected");
        QTest::newRow("epoch") << 1970LL << 0LL << 1LL << QDate(1970, 1, 1);
        QTest::newRow("day before epoch") << 1969LL << 11LL << 31LL << QDate(1969, 12, 31);
        QTest::newRow("day 0 of january") << 2024LL << 0LL << 0LL << QDate(2023, 12, 31);
        // The day offset divides toward zero, so day 0 only runs back in January and
        // February (whose offsets are positive once months count from March).
        QTest::newRow("day 0 of march") << 2024LL << 2LL << 0LL << QDate(2024, 3, 1);
        QTest::newRow("30 february") << 2024LL << 1LL << 30LL << QDate(2024, 3, 1);
        QTest::newRow("29 february 2024") << 2024LL << 1LL << 29LL << QDate(2024, 2, 29);
        QTest::newRow("29 february 2023") << 2023LL << 1LL << 29LL << QDate(2020, 2, 29);
        QTest::newRow("29 february 2000") << 2000LL << 1LL << 29LL << QDate(2000, 2, 29);
        QTest::newRow("29 february 2100") << 2100LL << 1LL << 29LL << QDate(2000, 2, 29);
        // In a century without a leap day the fallback is the last 400-year leap day.
        QTest::newRow("29 february 1900") << 1900LL << 1LL << 29LL << QDate(1600, 2, 29);
        QTest::newRow("1 march 1900") << 1900LL << 2LL << 1LL << QDate(1900, 3, 1);
        QTest::newRow("31 december 2400") << 2400LL << 11LL << 31LL << QDate(2400, 12, 31);
        QTest::newRow("day 400 of january") << 2001LL << 0LL << 400LL << QDate(2002, 2, 4);
        QTest::newRow("year 1") << 1LL << 5LL << 15LL << QDate(1, 6, 15);
    }

    void dateToSeconds()
    {
        QFETCH(qint64, year);
        QFETCH(qint64, month);
        QFETCH(qint64, day);
        QFETCH(QDate, expected);
        const qint64 got = zodaru::dateToSeconds(year, month, day);
        QCOMPARE(QDateTime::fromSecsSinceEpoch(got, Qt::UTC), QDateTime(expected, QTime(0, 0), Qt::UTC));
    }

    // Every real date of three centuries, both ways, against Qt's calendar.
    void calendarAgreesWithQt()
    {
        for (QDate date(1890, 1, 1); date < QDate(2210, 1, 1); date = date.addDays(1)) {
            const qint64 midnight = QDateTime(date, QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
            if (zodaru::dateToSeconds(date.year(), date.month() - 1, date.day()) != midnight)
                QFAIL(qPrintable(QStringLiteral("dateToSeconds %1").arg(date.toString(Qt::ISODate))));
            if (yearOfSeconds(midnight) != date.year() || yearOfSeconds(midnight + 86399) != date.year())
                QFAIL(qPrintable(QStringLiteral("yearOfSeconds %1").arg(date.toString(Qt::ISODate))));
        }
    }
};

QTEST_GUILESS_MAIN(TestFtpParse)
#include "tst_ftpparse.moc"
