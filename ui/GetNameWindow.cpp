// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GetNameWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace zodaru {

namespace {
constexpr int kWidth = 300;
constexpr int kHeight = 70;

// Frames are given with the origin at the lower-left corner, as the panel was drawn;
// Qt counts y from the top.
QRect frame(int x, int y, int w, int h)
{
    return QRect(x, kHeight - y - h, w, h);
}
} // namespace

GetNameWindow::GetNameWindow(QWidget *parent)
    : QDialog(parent)
{
    setModal(false);
    setFixedSize(kWidth, kHeight);
    move(300, 300);
}

GetNameWindow::~GetNameWindow() = default;

void GetNameWindow::layoutWindow()
{
    dirName_ = new QLabel(this);
    go_ = new QPushButton(this);
    cancel_ = new QPushButton(this);
    name_ = new QLineEdit(this);

    dirName_->setText(QStringLiteral("Name : "));
    dirName_->setAutoFillBackground(false);
    dirName_->setTextInteractionFlags(Qt::NoTextInteraction);
    // The label overlaps the start of the field; clicks there must still reach the field.
    dirName_->setAttribute(Qt::WA_TransparentForMouseEvents);

    go_->setText(QStringLiteral("Go!"));
    // Return anywhere in the panel presses "Go!", even with "Cancel" focused; Escape, like
    // "Cancel", closes the panel and makes nothing.
    go_->setDefault(true);
    go_->setAutoDefault(true);
    // The panel's own texts are fixed; the button added to them speaks the user's language.
    cancel_->setText(tr("Cancel"));
    cancel_->setAutoDefault(false);

    name_->setGeometry(frame(85, 35, 200, 20));
    dirName_->setGeometry(frame(5, 35, 100, 20));
    go_->setGeometry(frame(200, 5, 50, 20));
    // Where the connection panel has its "Cancel", left of "Go!".
    cancel_->setGeometry(frame(130, 5, 50, 20));
    // Added after the field, the label is drawn over its left edge.
    dirName_->raise();
    go_->raise();
    cancel_->raise();
}

QString GetNameWindow::getName() const
{
    return name_ ? name_->text() : QString();
}

} // namespace zodaru
