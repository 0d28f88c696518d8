// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/EntryFacts.h"

#include <QFrame>
#include <QString>

#include <optional>

class QFormLayout;
class QLabel;

namespace zodaru {

// The last column of a browser when one file is selected: what the entry is, and how it
// compares with its namesake in the other browser's open directory. Main thread only.
class PreviewPanel final : public QFrame {
    Q_OBJECT
public:
    enum class Field { Name, Kind, Size, Modified, Permissions, LinkTarget, Comparison };

    explicit PreviewPanel(QWidget *parent = nullptr);

    // `namesake` is absent when there is no other browser to compare with.
    void showFacts(const EntryFacts &facts, std::optional<Namesake> namesake,
                   const std::optional<EntryFacts> &there);

    const EntryFacts &facts() const { return facts_; }
    std::optional<Namesake> namesake() const { return namesake_; }
    // The text shown for a field; empty when the row is hidden (nothing known).
    QString fieldText(Field field) const;
    QString fieldToolTip(Field field) const;

    static QString kindText(EntryFacts::Kind kind);
    // Local time, as the user's locale writes a short date and time; empty when unknown.
    static QString timeText(qint64 secondsUtc);

private:
    void setField(Field field, const QString &text, const QString &toolTip = QString());

    QFormLayout *form_ = nullptr;
    QLabel *labels_[7] = {};
    EntryFacts facts_;
    std::optional<Namesake> namesake_;
};

} // namespace zodaru
