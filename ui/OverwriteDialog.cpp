// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/OverwriteDialog.h"

#include "model/SizeText.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace zodaru {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OverwriteDialog", text);
}

// "12 KiB, 10/12/2026 04:40" as far as each is known.
QString describe(qint64 size, qint64 modified)
{
    QStringList parts;
    parts << (size >= 0 ? readableSize(size) : tr("size unknown"));
    if (modified >= 0)
        parts << QLocale().toString(QDateTime::fromSecsSinceEpoch(modified), QLocale::ShortFormat);
    return parts.join(QStringLiteral(", "));
}

} // namespace

OverwriteDialog::OverwriteDialog(const QString &name, const TargetFacts &facts, bool targetIsLocal, QWidget *parent)
    : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(tr("File exists"));
    auto *layout = new QVBoxLayout(this);
    auto *title = new QLabel(tr("\u201c%1\u201d already exists.").arg(name), this);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    layout->addWidget(title);

    auto *form = new QFormLayout;
    form->addRow(targetIsLocal ? tr("Existing file, on this computer:") : tr("Existing file, on the server:"),
                 new QLabel(describe(facts.targetSize, facts.targetModified), this));
    form->addRow(targetIsLocal ? tr("New file, from the server:") : tr("New file, from this computer:"),
                 new QLabel(describe(facts.sourceSize, facts.sourceModified), this));
    layout->addLayout(form);
    if (targetIsLocal && !facts.hasTrash) {
        noTrash_ = new QLabel(
            tr("The replaced file cannot go to the Trash: its file system has none, so it could not be got back."),
            this);
        noTrash_->setWordWrap(true);
        layout->addWidget(noTrash_);
    }
    applyToAll_ = new QCheckBox(tr("Apply to all in this queue"), this);
    layout->addWidget(applyToAll_);

    auto *box = new QDialogButtonBox(this);
    const auto add = [&](ConflictAnswer value, const char *text) {
        auto *button = box->addButton(tr(text), QDialogButtonBox::ActionRole);
        button->setAutoDefault(false);
        buttons_.insert(value, button);
        connect(button, &QPushButton::clicked, this, [this, value] { answer(value); });
    };
    add(ConflictAnswer::Overwrite, QT_TRANSLATE_NOOP("OverwriteDialog", "Overwrite"));
    add(ConflictAnswer::OverwriteIfDifferent, QT_TRANSLATE_NOOP("OverwriteDialog", "Overwrite if newer or size differs"));
    if (facts.canResume)
        add(ConflictAnswer::Resume, QT_TRANSLATE_NOOP("OverwriteDialog", "Resume"));
    add(ConflictAnswer::Rename, QT_TRANSLATE_NOOP("OverwriteDialog", "Rename"));
    add(ConflictAnswer::Skip, QT_TRANSLATE_NOOP("OverwriteDialog", "Skip"));
    // The default loses nothing: Return, or a hurried click, leaves the target as it is.
    QPushButton *skip = buttons_.value(ConflictAnswer::Skip);
    skip->setAutoDefault(true);
    skip->setDefault(true);
    skip->setFocus();
    layout->addWidget(box);
}

void OverwriteDialog::answer(ConflictAnswer value)
{
    if (answered_)
        return;
    answered_ = true;
    Q_EMIT answered(value, applyToAll_->isChecked());
    accept();
}

void OverwriteDialog::done(int result)
{
    // Closed or Escape: the answer that loses nothing.
    if (!answered_) {
        answered_ = true;
        Q_EMIT answered(ConflictAnswer::Skip, applyToAll_->isChecked());
    }
    QDialog::done(result);
}

} // namespace zodaru
