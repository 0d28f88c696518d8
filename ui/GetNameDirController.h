// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QtGlobal>

class QLineEdit;
class QPushButton;
class QWidget;

namespace zodaru {

class AppContext;
class GetNameWindow;

// Runs one make-directory panel: on "Go!" it makes the named directory inside the directory
// shown by the last visible column of the local or the remote browser.
//
// The panel owns its controller and deletes itself once it has been closed (by "Go!",
// "Cancel", its close button or Escape), so an open dialog needs no other owner and a closed
// one leaves nothing behind, however many are opened. Only "Go!" makes a directory.
class GetNameDirController final : public QObject {
    Q_OBJECT
public:
    // Builds the panel (a transient of `parentWindow` when given) and its controller; the
    // returned pointer stays valid until the panel has been closed.
    static GetNameDirController *create(AppContext &app, bool remote = false,
                                        QWidget *parentWindow = nullptr);
    ~GetNameDirController() override;
    Q_DISABLE_COPY_MOVE(GetNameDirController)

    // Brings the panel to the front and gives it the keyboard.
    void showWindow();
    // Action of "Go!".
    void makedir();

    GetNameWindow *window() const { return window_; }
    bool isRemote() const { return type != 0; }

private:
    GetNameDirController(AppContext &app, bool remote, GetNameWindow *panel);

    AppContext &app_;
    GetNameWindow *window_;
    QLineEdit *name = nullptr;
    QPushButton *go = nullptr;
    quint8 type = 0;
};

} // namespace zodaru
