// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SiteBook.h"

#include <algorithm>

namespace zodaru {

SiteBook::SiteBook(QString filePath, QString settingsPath)
    : filePath_(std::move(filePath)), settings_(std::move(settingsPath))
{
}

SiteListFile::State SiteBook::load()
{
    const QList<QStringList> entries = SiteListFile::read(filePath_, &fileState_);
    QList<SiteSettings::Extras> extras = settings_.extras();
    records_.clear();
    for (const QStringList &entry : entries) {
        SiteRecord r;
        r.server = entry.value(0);
        r.login = entry.value(1);
        r.password = entry.value(2);
        // The first unused fields of the same account belong to this entry: several sites
        // of one account keep their fields in file order.
        const auto it = std::find_if(extras.begin(), extras.end(), [&](const SiteSettings::Extras &e) {
            return e.server == r.server && e.login == r.login;
        });
        if (it != extras.end()) {
            r.name = it->name;
            r.remoteDirectory = it->remoteDirectory;
            r.localDirectory = it->localDirectory;
            // A password found in the file is used, whatever the settings say: the file may
            // have been written by an older version or by hand.
            if (r.password.isEmpty())
                r.passwordPlace = it->passwordPlace;
            extras.erase(it);
        }
        records_.append(r);
    }
    return fileState_;
}

qsizetype SiteBook::find(const QString &server, const QString &login) const
{
    for (qsizetype i = 0; i < records_.size(); ++i)
        if (records_.at(i).sameAccount(server, login))
            return i;
    return -1;
}

QList<QStringList> SiteBook::entries() const
{
    QList<QStringList> out;
    out.reserve(records_.size());
    for (const SiteRecord &r : records_) {
        const bool inFile = r.passwordPlace == SiteRecord::PasswordPlace::File;
        out.append(QStringList{r.server, r.login, inFile ? r.password : QString()});
    }
    return out;
}

SiteBook::SaveFailure SiteBook::save()
{
    if (fileState_ == SiteListFile::State::Damaged)
        return SaveFailure::DamagedFile;
    if (!SiteListFile::write(filePath_, entries()))
        return SaveFailure::FileNotWritten;
    fileState_ = SiteListFile::State::Read;
    QList<SiteSettings::Extras> extras;
    extras.reserve(records_.size());
    for (const SiteRecord &r : records_)
        extras.append({r.server, r.login, r.name, r.remoteDirectory, r.localDirectory, r.passwordPlace, 0});
    return settings_.setExtras(extras) ? SaveFailure::None : SaveFailure::SettingsNotWritten;
}

} // namespace zodaru
