// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/TransferConflict.h"

namespace zodaru {

ConflictClass classOf(const TargetFacts &facts)
{
    if (facts.canResume)
        return ConflictClass::Resumable;
    if (facts.targetModified >= 0 && facts.sourceModified >= 0 && facts.targetModified > facts.sourceModified)
        return ConflictClass::TargetNewer;
    if (facts.targetSize >= 0 && facts.targetSize == facts.sourceSize)
        return ConflictClass::SameSize;
    return ConflictClass::Different;
}

ConflictAction actionFor(ConflictAnswer answer, const TargetFacts &facts)
{
    switch (answer) {
    case ConflictAnswer::Ask:
        return ConflictAction::Ask;
    case ConflictAnswer::Overwrite:
        return ConflictAction::Replace;
    case ConflictAnswer::OverwriteIfDifferent: {
        // What cannot be compared counts as different: the user asked for the new file
        // unless it is known to be the same.
        const bool sizeDiffers = facts.targetSize < 0 || facts.sourceSize < 0 || facts.targetSize != facts.sourceSize;
        const bool sourceNewer = facts.sourceModified >= 0 && facts.targetModified >= 0
            && facts.sourceModified > facts.targetModified;
        return sizeDiffers || sourceNewer ? ConflictAction::Replace : ConflictAction::Skip;
    }
    case ConflictAnswer::Resume:
        return facts.canResume ? ConflictAction::Resume : ConflictAction::Skip;
    case ConflictAnswer::ResumeOrAsk:
        return facts.canResume ? ConflictAction::Resume : ConflictAction::Ask;
    case ConflictAnswer::Rename:
        return ConflictAction::Rename;
    case ConflictAnswer::Skip:
        return ConflictAction::Skip;
    }
    return ConflictAction::Ask;
}

const char *answerWord(ConflictAnswer answer)
{
    switch (answer) {
    case ConflictAnswer::Ask:
        return "question";
    case ConflictAnswer::Overwrite:
        return "ecraser";
    case ConflictAnswer::OverwriteIfDifferent:
        return "ecraser si plus recent ou de taille differente";
    case ConflictAnswer::Resume:
        return "reprendre";
    case ConflictAnswer::ResumeOrAsk:
        return "reprendre, sinon demander";
    case ConflictAnswer::Rename:
        return "renommer";
    case ConflictAnswer::Skip:
        return "passer";
    }
    return "";
}

QString freeName(const QString &name, const std::function<bool(const QString &)> &taken, int limit)
{
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        dot = name.size();
    else if (const QStringView before = QStringView(name).left(dot);
             before.size() > 4 && before.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
        dot -= 4;
    const QStringView stem = QStringView(name).left(dot);
    const QStringView suffix = QStringView(name).mid(dot);
    for (int n = 1; n <= limit; ++n) {
        QString candidate = stem.toString() + QStringLiteral(" (%1)").arg(n) + suffix.toString();
        if (!taken(candidate))
            return candidate;
    }
    return QString();
}

} // namespace zodaru
