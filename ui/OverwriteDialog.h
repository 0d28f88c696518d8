// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/TransferConflict.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QLabel;
class QPushButton;

namespace zodaru {

// The question about a transfer whose target exists: names the file, both sizes and dates,
// and offers Overwrite, Overwrite if newer or size differs, Resume (only when the target
// can be continued), Rename and Skip, with "Apply to all in this queue". Skip, which loses
// nothing, is the default button; closing the dialog answers Skip too. Where the replaced
// local file cannot go to the Trash, the dialog says so.
//
// Not modal: the window stays usable while it waits. It deletes itself once answered.
// Main thread only.
class OverwriteDialog final : public QDialog {
    Q_OBJECT
public:
    // `targetIsLocal`: a download's target, on this computer; else an upload's, on the server.
    OverwriteDialog(const QString &name, const TargetFacts &facts, bool targetIsLocal, QWidget *parent = nullptr);

    // The button of `answer`; null for Ask, and for Resume when the target cannot be continued.
    QPushButton *button(ConflictAnswer answer) const { return buttons_.value(answer); }
    QCheckBox *applyToAll() const { return applyToAll_; }
    // The line that says the replaced file cannot go to the Trash; null when it can.
    QLabel *noTrashNote() const { return noTrash_; }

Q_SIGNALS:
    // Sent once: the answer, and whether it holds for the queue's other conflicts of its class.
    void answered(ConflictAnswer answer, bool applyToAll);

protected:
    void done(int result) override;

private:
    void answer(ConflictAnswer answer);

    QHash<ConflictAnswer, QPushButton *> buttons_;
    QCheckBox *applyToAll_ = nullptr;
    QLabel *noTrash_ = nullptr;
    bool answered_ = false;
};

} // namespace zodaru
