// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QFont>
#include <QString>

#include <optional>

namespace zodaru {

// One row of a column browser: the text shown, whether it opens a further column, an
// optional font, and the file entry of the row (a copy it owns).
class CellFile final {
public:
    CellFile() = default;

    // Stores a transfer-item copy (File::copyOf) of `file` in place of the entry held before.
    // The kind of the given entry is kept beside it: the copy is a plain file.
    void setFile(const File &file)
    {
        _file = File::copyOf(file);
        type_ = file.type();
        hasFile_ = true;
    }
    // The type of the entry given to setFile (0 file, 1 directory, 2 link).
    qint32 entryType() const { return type_; }
    File &getFile() { return _file; }
    const File &getFile() const { return _file; }
    bool hasFile() const { return hasFile_; }

    void setStringValue(const QString &text) { text_ = text; }
    const QString &stringValue() const { return text_; }
    // The row's name as a path component: the entry's exact name (lossless, see
    // base/ByteNames.h), or the text shown when the cell holds no entry. The text shown may
    // differ from it for names that are not UTF-8.
    QString name() const { return hasFile_ ? _file.name() : text_; }
    QStringView nameView() const { return hasFile_ ? _file.nameView() : QStringView(text_); }
    void setLeaf(bool leaf) { leaf_ = leaf; }
    bool isLeaf() const { return leaf_; }
    void setFont(const QFont &font) { font_ = font; }
    std::optional<QFont> font() const { return font_; }
    // A row that stands for no entry ("Loading...", a failed listing): it can be neither
    // selected nor opened, and never matches a path component.
    void setPlaceholder(bool placeholder) { placeholder_ = placeholder; }
    bool isPlaceholder() const { return placeholder_; }

private:
    File _file;
    qint32 type_ = 0;
    bool hasFile_ = false;
    QString text_;
    bool leaf_ = false;
    bool placeholder_ = false;
    std::optional<QFont> font_;
};

} // namespace zodaru
