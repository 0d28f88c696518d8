// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace zodaru {

QString installTranslations(const QLocale &locale, const QStringList &dirs)
{
    QCoreApplication *app = QCoreApplication::instance();
    QString found;
    for (const QString &dir : dirs) {
        auto *own = new QTranslator(app);
        if (own->load(locale, QStringLiteral("zodaru"), QStringLiteral("_"), dir)) {
            QCoreApplication::installTranslator(own);
            found = own->filePath();
            break;
        }
        delete own;
    }
    // Only worth loading when the program itself speaks the language: a French "Yes" in an
    // English window would be worse than none.
    if (!found.isEmpty()) {
        auto *qt = new QTranslator(app);
        if (qt->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        else
            delete qt;
    }
    return found;
}

QStringList translationDirectories(const QString &applicationDir, const QString &relativeToBinary)
{
    QStringList dirs;
    if (!relativeToBinary.isEmpty())
        dirs << QDir::cleanPath(applicationDir + QLatin1Char('/') + relativeToBinary);
    dirs << QString::fromLatin1(kBuiltInTranslations);
    return dirs;
}

} // namespace zodaru
