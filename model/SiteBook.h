// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/SiteListFile.h"
#include "model/SiteRecord.h"
#include "model/SiteSettings.h"
#include "model/Sites.h"

#include <QList>
#include <QString>

namespace zodaru {

// The saved sites with all their fields: the bookmark file's [server, login, password]
// triples, unchanged in form, joined with what the settings keep beside them (names,
// directories, where each password is). Passwords kept in the keyring or asked at each
// connect are written to the file as empty strings.
//
// A bookmark file that is there but damaged is never written over: saving then fails with
// DamagedFile and the file stays as it was. Main thread only.
class SiteBook final {
public:
    enum class SaveFailure { None, DamagedFile, FileNotWritten, SettingsNotWritten };

    SiteBook(QString filePath, QString settingsPath);

    // Reads both files again; what the bookmark file was found to be.
    SiteListFile::State load();
    SiteListFile::State fileState() const { return fileState_; }
    QString filePath() const { return filePath_; }

    const QList<SiteRecord> &records() const { return records_; }
    void setRecords(QList<SiteRecord> records) { records_ = std::move(records); }
    // The first site of that account, or -1.
    qsizetype find(const QString &server, const QString &login) const;

    SaveFailure save();
    // The triples as the bookmark file holds them.
    QList<QStringList> entries() const;
    Sites sites() const { return Sites::fromEntries(entries()); }

    SiteSettings &settings() { return settings_; }
    const SiteSettings &settings() const { return settings_; }

private:
    QString filePath_;
    SiteSettings settings_;
    QList<SiteRecord> records_;
    SiteListFile::State fileState_ = SiteListFile::State::Missing;
};

} // namespace zodaru
