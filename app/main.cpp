// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::puts("Zodaru " ZODARU_VERSION);
    return 0;
}
