// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

namespace zodaru {

// The program's compiled-in translations (a resource directory).
inline constexpr char kBuiltInTranslations[] = ":/i18n";

// Installs the translators for `locale` on the running application (main thread, after the
// QCoreApplication exists; the translators live as long as it does):
// - the program's own, from the first of `dirs` that has a catalogue for the locale, so an
//   installed catalogue is preferred to the compiled-in one it was made with;
// - Qt's own (standard buttons, file dialogs) from Qt's translation directory, when the
//   system has it.
// Returns the file the program's own catalogue was read from, or an empty text when none
// matches the locale (the English texts in the code are then shown).
QString installTranslations(const QLocale &locale, const QStringList &dirs);

// Where an installed program finds its catalogues: `relativeToBinary` (e.g.
// "../share/zodaru/translations") taken from the executable's directory, then the built-in ones.
QStringList translationDirectories(const QString &applicationDir, const QString &relativeToBinary);

} // namespace zodaru
