// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferSettingsDialog.h"

#include "base/Log.h"
#include "model/SiteSettings.h"
#include "ui/AppContext.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace zodaru {

namespace {

constexpr qint64 kKiB = 1024;

// Bytes per second as the boxes show them: whole KiB, rounded up as the file keeps them.
int kibOf(qint64 bytesPerSecond)
{
    const qint64 kib = (std::max<qint64>(bytesPerSecond, 0) + kKiB - 1) / kKiB;
    return int(std::min<qint64>(kib, TransferSettingsDialog::kMaxLimitKiB));
}

} // namespace

TransferSettingsDialog::TransferSettingsDialog(AppContext &app, const QString &path, QWidget *parent)
    : QDialog(parent), app_(app), path_(path)
{
    setObjectName(QStringLiteral("transferSettings"));
    setWindowTitle(tr("Transfer settings"));
    setModal(false);

    connections_ = new QSpinBox(this);
    connections_->setRange(TransferSettings::kMinConnections, TransferSettings::kMaxConnections);
    downloadLimit_ = limitBox();
    uploadLimit_ = limitBox();

    auto *form = new QFormLayout;
    form->addRow(tr("Connections per direction"), connections_);
    form->addRow(tr("Download limit"), downloadLimit_);
    form->addRow(tr("Upload limit"), uploadLimit_);

    auto *buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(tr("OK"), QDialogButtonBox::AcceptRole);
    cancel_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    const TransferSettings saved = TransferSettings::load(path_);
    connections_->setValue(saved.connections);
    downloadLimit_->setValue(kibOf(saved.downloadLimit));
    uploadLimit_->setValue(kibOf(saved.uploadLimit));
}

TransferSettingsDialog::~TransferSettingsDialog() = default;

QSpinBox *TransferSettingsDialog::limitBox()
{
    auto *box = new QSpinBox(this);
    box->setRange(0, kMaxLimitKiB);
    box->setSingleStep(64);
    box->setSuffix(tr(" KiB/s"));
    box->setSpecialValueText(tr("No limit"));
    return box;
}

TransferSettingsDialog *TransferSettingsDialog::showFor(AppContext &app, QWidget *parent)
{
    auto *dialog = parent ? parent->findChild<TransferSettingsDialog *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!dialog) {
        dialog = new TransferSettingsDialog(app, QString(), parent);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

TransferSettings TransferSettingsDialog::settings() const
{
    TransferSettings chosen;
    chosen.connections = connections_->value();
    chosen.downloadLimit = qint64(downloadLimit_->value()) * kKiB;
    chosen.uploadLimit = qint64(uploadLimit_->value()) * kKiB;
    return chosen;
}

void TransferSettingsDialog::accept()
{
    const TransferSettings chosen = settings();
    // Applied even when the file could not be written: they hold for this session then.
    if (!chosen.save(path_))
        zlog("Reglages des transferts non enregistres dans %@", path_.isEmpty() ? SiteSettings::defaultPath() : path_);
    app_.applyTransferSettings(chosen);
    QDialog::accept();
}

} // namespace zodaru
