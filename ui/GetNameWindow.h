// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zodaru {

// The small non-modal panel that asks for the name of a new directory. It only builds and
// exposes its controls; GetNameDirController gives them their behaviour.
class GetNameWindow final : public QDialog {
    Q_OBJECT
public:
    explicit GetNameWindow(QWidget *parent = nullptr);
    ~GetNameWindow() override;
    Q_DISABLE_COPY_MOVE(GetNameWindow)

    void layoutWindow();

    QLineEdit *name() const { return name_; }
    QPushButton *go() const { return go_; }
    QPushButton *cancel() const { return cancel_; }
    QString getName() const;

private:
    QLineEdit *name_ = nullptr;
    QLabel *dirName_ = nullptr;
    QPushButton *go_ = nullptr;
    QPushButton *cancel_ = nullptr;
};

} // namespace zodaru
