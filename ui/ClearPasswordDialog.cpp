// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ClearPasswordDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zodaru {

ClearPasswordDialog::ClearPasswordDialog(const QString &server, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Connection without encryption"));
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(tr("%1 does not support encryption (it refused AUTH TLS). If you continue, your "
                               "password and your files travel in clear: anyone on the way can read them.\n\n"
                               "Type ftp:// before the server's name to connect in clear without this question.")
                                .arg(server),
                            this);
    text->setWordWrap(true);
    layout->addWidget(text);
    always_ = new QCheckBox(tr("Always for this server"), this);
    layout->addWidget(always_);

    auto *buttons = new QDialogButtonBox(this);
    cancel_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    continue_ = buttons->addButton(tr("Continue without encryption"), QDialogButtonBox::AcceptRole);
    // Return gives up, whichever button has the focus, as on the certificate question.
    continue_->setAutoDefault(false);
    cancel_->setDefault(true);
    cancel_->setFocus();
    layout->addWidget(buttons);

    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(continue_, &QPushButton::clicked, this, &QDialog::accept);
    // Escape and the close button reject: no password in clear.
    connect(this, &QDialog::finished, this, [this](int result) {
        const bool clear = result == QDialog::Accepted;
        Q_EMIT chosen(clear, clear && always_->isChecked());
    });
}

ClearPasswordDialog::~ClearPasswordDialog() = default;

} // namespace zodaru
