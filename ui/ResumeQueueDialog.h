// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QMessageBox;
class QWidget;

namespace zodaru {

// What the user does with the transfers an earlier run left for a site.
enum class ResumeAnswer {
    Resume,  // back into the queues, which run
    Discard, // forgotten; files partly moved are left where they are
    Later,   // kept, asked again at the next connect
};

// Asks, without blocking, about `files` unfinished transfers from an earlier session;
// `answered` runs once the user chose (Escape and the close button are Later). Resume is the
// default button. The box deletes itself once answered. Main thread only.
QMessageBox *askToResumeQueue(QWidget *parent, int files, std::function<void(ResumeAnswer)> answered);

} // namespace zodaru
