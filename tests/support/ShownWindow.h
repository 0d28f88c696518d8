// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>

namespace zodaru::test {

// The visible top-level window of that type (and object name, when given) now, or null.
template <typename T = QWidget>
T *shownNow(const char *name = nullptr)
{
    T *found = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<T *>(w);
            t && t->isVisible() && (!name || t->objectName() == QLatin1String(name)))
            found = t;
    return found;
}

// The same, once there is one (null after 10 s): the program's questions are non-modal,
// so a test waits for them to show.
template <typename T>
T *shown(const char *name = nullptr)
{
    T *found = nullptr;
    (void)QTest::qWaitFor([&] { return (found = shownNow<T>(name)) != nullptr; }, 10000);
    return found;
}

} // namespace zodaru::test
