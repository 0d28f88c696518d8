// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResumeQueueDialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace zodaru {

QMessageBox *askToResumeQueue(QWidget *parent, int files, std::function<void(ResumeAnswer)> answered)
{
    const auto tr = [](const char *text, int n = -1) {
        return QCoreApplication::translate("ResumeQueueDialog", text, nullptr, n);
    };
    auto *box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("resumeQueueQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Question);
    box->setWindowTitle(tr("Unfinished transfers"));
    box->setText(tr("%n unfinished transfer(s) from an earlier session for this site. Resume them?", files));
    box->setInformativeText(tr("Discard forgets them; files already partly moved are left where they are."));
    QPushButton *resume = box->addButton(tr("Resume"), QMessageBox::AcceptRole);
    QPushButton *discard = box->addButton(tr("Discard"), QMessageBox::DestructiveRole);
    QPushButton *later = box->addButton(tr("Later"), QMessageBox::RejectRole);
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
