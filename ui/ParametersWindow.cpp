// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ParametersWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace zodaru {

namespace {

// Frames are given with the origin at the lower-left corner, as the panel was drawn;
// Qt counts y from the top.
QRect frame(int x, int y, int w, int h)
{
    return QRect(x, ParametersWindow::height - y - h, w, h);
}

QLabel *makeLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAutoFillBackground(false);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    // The label overlaps the start of its field; clicks there must still reach the field.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// The server combo box's text field. The combo box activates the saved site whose name
// equals the typed text when Return is pressed or the field loses focus; this field tells
// when that is happening, so such an activation can be told from a choice in the list.
class ServerField final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    bool committing() const { return committing_; }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const Guard guard(committing_);
        QLineEdit::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        const Guard guard(committing_);
        QLineEdit::focusOutEvent(event);
    }

private:
    // Nested events (a focus change inside a key press) keep the outer value.
    class Guard final {
    public:
        explicit Guard(bool &flag) : flag_(flag), old_(flag) { flag_ = true; }
        ~Guard() { flag_ = old_; }
        Q_DISABLE_COPY_MOVE(Guard)

    private:
        bool &flag_;
        bool old_;
    };

    bool committing_ = false;
};

QString textOf(const QLineEdit *field)
{
    return field ? field->text() : QString();
}

} // namespace

ParametersWindow::ParametersWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint)
{
    setModal(false);
    setFixedSize(width, height);
    move(300, 300);
}

ParametersWindow::~ParametersWindow() = default;

void ParametersWindow::layoutWindow()
{
    // Created in the order they are stacked: each later widget is drawn over the earlier
    // ones, so the labels (no background) show over the left edge of their fields.
    server_ = new QComboBox(this);
    serverName_ = makeLabel(QStringLiteral("Server : "), this);
    login_ = new QLineEdit(this);
    loginName_ = makeLabel(QStringLiteral("Login : "), this);
    password_ = new QLineEdit(this);
    passwordName_ = makeLabel(QStringLiteral("Password : "), this);
    go_ = new QPushButton(QStringLiteral("Go!"), this);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);

    // Editable, with a text field that reports when typed text is being taken in.
    server_->setLineEdit(new ServerField(server_));
    // The list is the saved sites; a typed server is used as it stands, never added to it.
    server_->setInsertPolicy(QComboBox::NoInsert);
    password_->setEchoMode(QLineEdit::Password);

    // Return anywhere in the panel presses "Go!", even with "Cancel" focused: neither
    // button takes Return for itself.
    go_->setDefault(true);
    go_->setAutoDefault(false);
    cancel_->setAutoDefault(false);

    serverName_->setGeometry(frame(5, 85, 100, 20));
    loginName_->setGeometry(frame(5, 60, 100, 20));
    passwordName_->setGeometry(frame(5, 35, 100, 20));
    go_->setGeometry(frame(200, 5, 50, 20));
    cancel_->setGeometry(frame(130, 5, 50, 20));
    server_->setGeometry(frame(85, 85, 200, 20));
    login_->setGeometry(frame(85, 60, 200, 20));
    password_->setGeometry(frame(85, 35, 200, 20));
}

QString ParametersWindow::getserver() const
{
    return server_ ? server_->currentText() : QString();
}

bool ParametersWindow::isCommittingServerText() const
{
    const auto *field = server_ ? dynamic_cast<const ServerField *>(server_->lineEdit()) : nullptr;
    return field && field->committing();
}

QString ParametersWindow::getlogin() const
{
    return textOf(login_);
}

QString ParametersWindow::getpassword() const
{
    return textOf(password_);
}

} // namespace zodaru
