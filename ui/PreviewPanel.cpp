// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PreviewPanel.h"

#include "base/ByteNames.h"
#include "model/SizeText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QStringList>

namespace zodaru {

namespace {

constexpr int kFields = 7;

const char *fieldTitle(int field)
{
    static const char *const titles[kFields] = {
        QT_TRANSLATE_NOOP("Preview", "Name:"),     QT_TRANSLATE_NOOP("Preview", "Kind:"),
        QT_TRANSLATE_NOOP("Preview", "Size:"),     QT_TRANSLATE_NOOP("Preview", "Modified:"),
        QT_TRANSLATE_NOOP("Preview", "Permissions:"), QT_TRANSLATE_NOOP("Preview", "Link to:"),
        QT_TRANSLATE_NOOP("Preview", "Other side:"),
    };
    return titles[field];
}

QString sizeLine(qint64 size)
{
    return size < 0 ? QString() : readableSize(size);
}

} // namespace

PreviewPanel::PreviewPanel(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    form_ = new QFormLayout(this);
    form_->setRowWrapPolicy(QFormLayout::WrapAllRows);
    for (int field = 0; field < kFields; ++field) {
        auto *label = new QLabel(this);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setTextFormat(Qt::PlainText);
        labels_[field] = label;
        form_->addRow(QCoreApplication::translate("Preview", fieldTitle(field)), label);
    }
}

QString PreviewPanel::kindText(EntryFacts::Kind kind)
{
    switch (kind) {
    case EntryFacts::Kind::Directory: return tr("Folder");
    case EntryFacts::Kind::Link: return tr("Symbolic link");
    case EntryFacts::Kind::File: break;
    }
    return tr("File");
}

QString PreviewPanel::timeText(qint64 secondsUtc)
{
    if (secondsUtc < 0)
        return QString();
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(secondsUtc).toLocalTime(), QLocale::ShortFormat);
}

void PreviewPanel::showFacts(const EntryFacts &facts, std::optional<Namesake> namesake,
                             const std::optional<EntryFacts> &there)
{
    facts_ = facts;
    namesake_ = namesake;
    setField(Field::Name, displayedName(facts.name));
    setField(Field::Kind, kindText(facts.kind));
    setField(Field::Size, sizeLine(facts.size), exactSize(facts.size));
    setField(Field::Modified, timeText(facts.modified));
    setField(Field::Permissions, facts.permissions);
    setField(Field::LinkTarget, displayedName(facts.linkTarget));
    QString comparison;
    QString details;
    if (namesake) {
        comparison = namesakeText(*namesake);
        // What the other side has, for the user to judge: its size and date.
        if (there && there->kind != EntryFacts::Kind::Directory) {
            QStringList parts;
            if (there->size >= 0)
                parts << readableSize(there->size);
            if (there->modified >= 0)
                parts << timeText(there->modified);
            if (!parts.isEmpty())
                comparison += QStringLiteral(" (") + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
            details = exactSize(there->size);
        }
    }
    setField(Field::Comparison, comparison, details);
}

void PreviewPanel::setField(Field field, const QString &text, const QString &toolTip)
{
    QLabel *label = labels_[int(field)];
    label->setText(text);
    label->setToolTip(toolTip);
    form_->setRowVisible(label, !text.isEmpty());
}

QString PreviewPanel::fieldText(Field field) const
{
    return labels_[int(field)]->text();
}

QString PreviewPanel::fieldToolTip(Field field) const
{
    return labels_[int(field)]->toolTip();
}

} // namespace zodaru
