// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/Sites.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QStringList>

namespace zodaru {

// The saved sites as the connection dialog's server combo box sees them: its own copy of
// a site list, answering how many servers there are and which one is at an index, and
// hearing about the user's typing.
class SitesCombo final : public Sites {
public:
    explicit SitesCombo(const Sites &book) : Sites(book) {}

    // Number of servers offered.
    qint32 numberOfItemsInComboBox() const;
    // The server of the entry at `index`; an empty text outside the list.
    QString comboBox(qint32 index) const;
    // All servers, in list order (no logging).
    QStringList servers() const;

    // Remembered only; nothing here uses it.
    void addObserver(QObject *observer) { _observer = observer; }
    QObject *observer() const { return _observer.data(); }

    void controlTextDidChange() const;
    void controlTextDidBeginEditing() const;
    void controlTextDidEndEditing() const;
    // Whether the user may type in the server field: always.
    bool control() const;

private:
    QPointer<QObject> _observer;
};

// Item model over a SitesCombo for an editable QComboBox: one row per server, asking the
// source at each question so its log shows what the combo box asks.
class SitesComboModel final : public QAbstractListModel {
    Q_OBJECT
public:
    // `source` is not owned and must outlive the model.
    explicit SitesComboModel(const SitesCombo &source, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(SitesComboModel)

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    const SitesCombo &source_;
};

} // namespace zodaru
