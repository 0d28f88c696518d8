// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zodaru {

// The small non-modal panel that asks for a server, a login and a password. It only builds
// and exposes its controls; ParametersWindowController gives them their behaviour.
class ParametersWindow final : public QDialog {
    Q_OBJECT
public:
    static constexpr int width = 300;
    static constexpr int height = 120;

    explicit ParametersWindow(QWidget *parent = nullptr);
    ~ParametersWindow() override;
    Q_DISABLE_COPY_MOVE(ParametersWindow)

    void layoutWindow();

    QComboBox *server() const { return server_; }
    QLineEdit *login() const { return login_; }
    QLineEdit *password() const { return password_; }
    QPushButton *go() const { return go_; }
    QPushButton *cancel() const { return cancel_; }
    QLabel *serverName() const { return serverName_; }
    QLabel *loginName() const { return loginName_; }
    QLabel *passwordName() const { return passwordName_; }

    QString getserver() const;

    // True while the server field is taking in what was typed (Return, or leaving the
    // field); a list item activated then matches the typed text rather than a choice.
    bool isCommittingServerText() const;
    QString getlogin() const;
    QString getpassword() const;

private:
    QLineEdit *login_ = nullptr;
    QLineEdit *password_ = nullptr;
    QComboBox *server_ = nullptr;
    QLabel *serverName_ = nullptr;
    QLabel *loginName_ = nullptr;
    QLabel *passwordName_ = nullptr;
    QPushButton *go_ = nullptr;
    QPushButton *cancel_ = nullptr;
};

} // namespace zodaru
