// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResumeQueueDialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace zodaru {

QMessageBox *askToResumeQueue(QWidget *parent, int files, std::function<void(ResumeAnswer)> answered)
{
    auto *box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("resumeQueueQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Question);
    box->setWindowTitle(QCoreApplication::translate("ResumeQueueDialog", "Unfinished transfers"));
    box->setText(QCoreApplication::translate("ResumeQueueDialog",
                                            "%n unfinished transfer(s) from an earlier session for this site. Resume them?",
                                            nullptr, files));
    box->setInformativeText(QCoreApplication::translate(
        "ResumeQueueDialog", "Discard forgets them; files already partly moved are left where they are."));
    QPushButton *resume =
        box->addButton(QCoreApplication::translate("ResumeQueueDialog", "Resume"), QMessageBox::AcceptRole);
    QPushButton *discard =
        box->addButton(QCoreApplication::translate("ResumeQueueDialog", "Discard"), QMessageBox::DestructiveRole);
    QPushButton *later =
        box->addButton(QCoreApplication::translate("ResumeQueueDialog", "Later"), QMessageBox::RejectRole);
    resume->setObjectName(QStringLiteral("resume"));
    discard->setObjectName(QStringLiteral("discard"));
    later->setObjectName(QStringLiteral("later"));
    box->setDefaultButton(resume);
    box->setEscapeButton(later);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [resume, discard, answered = std::move(answered)](QAbstractButton *clicked) {
                         answered(clicked == resume    ? ResumeAnswer::Resume
                                  : clicked == discard ? ResumeAnswer::Discard
                                                       : ResumeAnswer::Later);
                     });
    // The window stays usable: the queues may already run while the user decides.
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

} // namespace zodaru
