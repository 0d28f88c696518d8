// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SitesCombo.h"

#include "base/Log.h"

namespace zodaru {

qint32 SitesCombo::numberOfItemsInComboBox() const
{
    zlog("numberOfItemsInComboBox ...\n");
    const qint32 n = count();
    zlog("on a %d ", n);
    return n;
}

QString SitesCombo::comboBox(qint32 index) const
{
    zlog("comboBox:objectValueForItemAtIndex:%d\n", index);
    // A combo box only asks below the count it was given, but an index from elsewhere
    // must not read outside the list.
    if (index < 0 || index >= count())
        return QString();
    return arrayOfSites().at(index).value(0);
}

QStringList SitesCombo::servers() const
{
    QStringList result;
    result.reserve(count());
    for (const QStringList &entry : arrayOfSites())
        result.append(entry.value(0));
    return result;
}

void SitesCombo::controlTextDidChange() const
{
    zlog("control le Texte a chang");
}

void SitesCombo::controlTextDidBeginEditing() const
{
    zlog("control test did begin editing... \n");
}

void SitesCombo::controlTextDidEndEditing() const
{
    zlog("control test did end editing... \n");
}

bool SitesCombo::control() const
{
    zlog("control text should begin editing \n");
    return true;
}

SitesComboModel::SitesComboModel(const SitesCombo &source, QObject *parent)
    : QAbstractListModel(parent), source_(source)
{
}

int SitesComboModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return source_.numberOfItemsInComboBox();
}

QVariant SitesComboModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() >= source_.count())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    return source_.comboBox(index.row());
}

} // namespace zodaru
