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

} // namespace zodaru
