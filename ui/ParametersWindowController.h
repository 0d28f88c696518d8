// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/SitesCombo.h"

#include <QObject>
#include <QString>

#include <memory>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace zodaru {

class AppContext;
class ParametersWindow;

// Dropping the panel hides it at once but may have to postpone its deletion: a button of the
// panel can be in the middle of delivering its click when its controller goes.
struct ParametersPanelDeleter {
    bool deferred = false;
    void operator()(ParametersWindow *panel) const;
};

// Runs one connection dialog: offers the saved sites in the server field, and on "Go!"
// hands server, login and password to the application controller.
//
// The application controller keeps the most recent one and drops the previous one; dropping
// it closes its panel, even from inside one of the panel's own actions.
class ParametersWindowController final : public QObject {
    Q_OBJECT
public:
    explicit ParametersWindowController(AppContext &app, QObject *parent = nullptr);
    ~ParametersWindowController() override;
    Q_DISABLE_COPY_MOVE(ParametersWindowController)

    // Brings the panel to the front and gives it the keyboard.
    void showWindow();

    // Action of "Go!".
    void connect();
    // Action of "Cancel".
    void cancel();
    // Fills the login and password fields (used when a saved site is chosen).
    void setLogin(const QString &login, const QString &password);

    ParametersWindow *window() const { return window_.get(); }
    const SitesCombo &sites() const { return sitesCombo; }

private:
    void wireServerField();
    // Shows the saved site used last, when there is one.
    void openOnLastSite();
    // Fills the password field from the keyring, for a saved site that keeps it there.
    void fetchPassword(const QString &server, const QString &login);
    void fillServerList();
    void siteChosen(int index);
    void serverTextEdited();
    void serverEditingFinished();

    AppContext &app_;
    // Built before the panel, which shows its servers, and dropped after it.
    SitesCombo sitesCombo;
    std::unique_ptr<ParametersWindow, ParametersPanelDeleter> window_;

    // Controls inside window_, not owned.
    QLineEdit *login_ = nullptr;
    QLineEdit *password_ = nullptr;
    QComboBox *server_ = nullptr;
    QPushButton *go_ = nullptr;
    QPushButton *cancel_ = nullptr;

    // Between the first keystroke in the server field and the end of that edit.
    bool editingServer_ = false;
    // Set while an action hands control to the application controller, which may drop us.
    bool acting_ = false;
};

} // namespace zodaru
