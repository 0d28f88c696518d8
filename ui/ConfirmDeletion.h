// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/LocalTreeDelete.h"

#include <QString>
#include <QStringList>

#include <functional>

class QMessageBox;
class QWidget;

namespace zodaru {

// What a deletion would take away, as the question before it tells it.
struct DeletionSummary {
    enum class Undo {
        Trash,  // local entries that go to the desktop's Trash
        Never,  // local entries on a file system without a Trash
        Remote, // entries on the server
    };
    QStringList names;          // the entries chosen, exact names
    bool oneDirectory = false;  // one entry, a directory
    TreeCount inside;           // what the chosen directories hold, at every depth
    Undo undo = Undo::Remote;
};

// The question and the line under it, in the user's language, numbers in the user's
// locale: "Delete 'photos' and the 1,243 files and 37 folders in it?".
QString deletionQuestion(const DeletionSummary &summary);
QString deletionConsequence(const DeletionSummary &summary);

// Asks, without blocking and window-modal over `parent`; `confirmed` runs only when the
// user chose Delete. Cancel is the default button and what Escape does. The box deletes
// itself once answered. Main thread only.
QMessageBox *askDeletion(QWidget *parent, const DeletionSummary &summary, std::function<void()> confirmed);

} // namespace zodaru
