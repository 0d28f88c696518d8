// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace zodaru::testing {

// "name|size|type" per entry; size -1 in an expectation means "not checked".
inline QStringList describe(const QList<File> &entries)
{
    QStringList out;
    for (const File &f : entries)
        out << QStringLiteral("%1|%2|%3").arg(f.name()).arg(f.size()).arg(f.type());
    return out;
}

} // namespace zodaru::testing
