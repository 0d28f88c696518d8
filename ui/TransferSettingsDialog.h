// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/TransferSettings.h"

#include <QDialog>
#include <QString>

class QPushButton;
class QSpinBox;

namespace zodaru {

class AppContext;

// "Transfer settings": how many connections each direction may open, and the speed limit
// of each direction (KiB/s, 0 for none). It opens with what the settings file holds; OK
// writes them there and hands them to the application, which applies them at once; Cancel
// leaves everything as it was. Non-modal. Main thread only.
class TransferSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    // The largest limit the boxes take, in KiB/s (about 2 GiB/s).
    static constexpr int kMaxLimitKiB = 2 * 1024 * 1024;

    // With the values of `path` (the program's settings file when empty).
    explicit TransferSettingsDialog(AppContext &app, const QString &path = QString(), QWidget *parent = nullptr);
    ~TransferSettingsDialog() override;
    Q_DISABLE_COPY_MOVE(TransferSettingsDialog)

    // Shows the dialog of `parent`'s window, made the first time and brought forward
    // after; it goes when closed.
    static TransferSettingsDialog *showFor(AppContext &app, QWidget *parent);

    // What the boxes say, limits in bytes per second.
    TransferSettings settings() const;

    QSpinBox *connectionsBox() const { return connections_; }
    QSpinBox *downloadLimitBox() const { return downloadLimit_; }
    QSpinBox *uploadLimitBox() const { return uploadLimit_; }
    QPushButton *okButton() const { return ok_; }
    QPushButton *cancelButton() const { return cancel_; }

public Q_SLOTS:
    void accept() override;

private:
    QSpinBox *limitBox();

    AppContext &app_;
    const QString path_;
    QSpinBox *connections_ = nullptr;
    QSpinBox *downloadLimit_ = nullptr;
    QSpinBox *uploadLimit_ = nullptr;
    QPushButton *ok_ = nullptr;
    QPushButton *cancel_ = nullptr;
};

} // namespace zodaru
