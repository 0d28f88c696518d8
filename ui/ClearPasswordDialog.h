// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QPushButton;

namespace zodaru {

// Asked when a server named without a scheme refused TLS, before the password goes to it in
// clear: go on without encryption (for this connect, or always for this server) or give up.
// Cancel is the default: Return and Escape give up. Opened with open(), it never blocks:
// the answer comes through chosen(), once.
class ClearPasswordDialog final : public QDialog {
    Q_OBJECT
public:
    // `server` is "host:port".
    explicit ClearPasswordDialog(const QString &server, QWidget *parent = nullptr);
    ~ClearPasswordDialog() override;
    Q_DISABLE_COPY_MOVE(ClearPasswordDialog)

    QPushButton *continueButton() const { return continue_; }
    QPushButton *cancelButton() const { return cancel_; }
    QCheckBox *alwaysBox() const { return always_; }

Q_SIGNALS:
    // `clear`: go on without encryption; `always`: and never ask again for this server.
    void chosen(bool clear, bool always);

private:
    QPushButton *continue_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QCheckBox *always_ = nullptr;
};

} // namespace zodaru
