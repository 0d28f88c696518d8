// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ConfirmDeletion.h"

#include "base/ByteNames.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

namespace zodaru {

namespace {

QString number(qint64 n)
{
    return QLocale().toString(n);
}

// "the 1,243 files and 37 folders", "the 1 file", "the 2 folders"; empty when nothing.
QString contents(const TreeCount &inside)
{
    const QString files = inside.files == 1 ? QCoreApplication::translate("ConfirmDeletion", "1 file") : QCoreApplication::translate("ConfirmDeletion", "%1 files").arg(number(inside.files));
    const QString folders = inside.folders == 1 ? QCoreApplication::translate("ConfirmDeletion", "1 folder") : QCoreApplication::translate("ConfirmDeletion", "%1 folders").arg(number(inside.folders));
    if (inside.files > 0 && inside.folders > 0)
        return QCoreApplication::translate("ConfirmDeletion", "the %1 and %2").arg(files, folders);
    if (inside.files > 0)
        return QCoreApplication::translate("ConfirmDeletion", "the %1").arg(files);
    if (inside.folders > 0)
        return QCoreApplication::translate("ConfirmDeletion", "the %1").arg(folders);
    return {};
}

} // namespace

QString deletionQuestion(const DeletionSummary &summary)
{
    const QString what = contents(summary.inside);
    if (summary.names.size() == 1) {
        const QString name = displayedName(summary.names.constFirst());
        if (!summary.oneDirectory)
            return QCoreApplication::translate("ConfirmDeletion", "Delete '%1'?").arg(name);
        if (what.isEmpty())
            return QCoreApplication::translate("ConfirmDeletion", "Delete the empty folder '%1'?").arg(name);
        return QCoreApplication::translate("ConfirmDeletion", "Delete '%1' and %2 in it?").arg(name, what);
    }
    const QString count = number(summary.names.size());
    if (what.isEmpty())
        return QCoreApplication::translate("ConfirmDeletion", "Delete these %1 entries?").arg(count);
    return QCoreApplication::translate("ConfirmDeletion", "Delete these %1 entries and %2 in them?").arg(count, what);
}

QString deletionConsequence(const DeletionSummary &summary)
{
    switch (summary.undo) {
    case DeletionSummary::Undo::Trash:
        return QCoreApplication::translate("ConfirmDeletion", "They go to the Trash, where you can get them back.");
    case DeletionSummary::Undo::Never:
        return QCoreApplication::translate("ConfirmDeletion", "This file system has no Trash: this cannot be undone.");
    case DeletionSummary::Undo::Remote:
        break;
    }
    return QCoreApplication::translate("ConfirmDeletion", "They are deleted on the server: this cannot be undone.");
}

QMessageBox *askDeletion(QWidget *parent, const DeletionSummary &summary, std::function<void()> confirmed)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QCoreApplication::translate("ConfirmDeletion", "Delete"));
    box->setText(deletionQuestion(summary));
    box->setInformativeText(deletionConsequence(summary));
    QPushButton *remove = box->addButton(QCoreApplication::translate("ConfirmDeletion", "Delete"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box->addButton(QMessageBox::Cancel);
    // The button that loses nothing answers Return and Escape.
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [remove, confirmed = std::move(confirmed)](QAbstractButton *clicked) {
                         if (clicked == remove)
                             confirmed();
                     });
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return box;
}

} // namespace zodaru
