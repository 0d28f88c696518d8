// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SiteListFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>

namespace zodaru {

namespace {

// Deeper nesting than this is no bookmark list; refusing it keeps a hostile file from
// exhausting the stack.
constexpr int maxDepth = 32;

bool isEntry(const QStringList &entry) { return entry.size() == 3; }

// Strict reader of the OpenStep text property list: arrays, dictionaries, data and quoted
// or unquoted strings. Only strings and arrays are kept; the shape of the rest is checked
// and thrown away.
class TextParser final {
public:
    explicit TextParser(const QString &text) : s_(text) {}

    // The entries of a document whose root is an array; false for any other document.
    bool parseDocument(QList<QStringList> &entries)
    {
        skipSpace();
        if (!consume(u'('))
            return false;
        skipSpace();
        while (!consume(u')')) {
            QStringList entry;
            bool allStrings = true;
            if (peek() == u'(') {
                ++pos_;
                if (!parseEntry(entry, allStrings))
                    return false;
            } else if (!skipValue(1)) {
                return false;
            } else {
                allStrings = false;
            }
            if (allStrings && isEntry(entry))
                entries.append(entry);
            else
                ++dropped_;
            if (!endOfElement(u')'))
                return false;
        }
        skipSpace();
        return pos_ == s_.size();
    }

    // Elements of the root array that were not three strings.
    int dropped() const { return dropped_; }

private:
    QChar peek() const { return pos_ < s_.size() ? s_.at(pos_) : QChar(); }
    bool atEnd() const { return pos_ >= s_.size(); }

    bool consume(char16_t c)
    {
        if (atEnd() || s_.at(pos_) != c)
            return false;
        ++pos_;
        return true;
    }

    void skipSpace()
    {
        while (!atEnd() && s_.at(pos_).isSpace())
            ++pos_;
    }

    // After an element: either a comma (a trailing one is allowed) or the closing bracket,
    // which is left for the caller's loop.
    bool endOfElement(char16_t close)
    {
        skipSpace();
        if (consume(u',')) {
            skipSpace();
            return !atEnd();
        }
        return peek() == close;
    }

    // The elements of an array whose "(" has been read; `allStrings` turns false when one
    // of them is not a string.
    bool parseEntry(QStringList &entry, bool &allStrings)
    {
        skipSpace();
        while (!consume(u')')) {
            QString text;
            if (isStringStart(peek())) {
                if (!parseString(text))
                    return false;
                entry.append(text);
            } else {
                if (!skipValue(2))
                    return false;
                allStrings = false;
            }
            if (!endOfElement(u')'))
                return false;
        }
        return true;
    }

    static bool isUnquotedChar(QChar c)
    {
        if (c.unicode() >= 128)
            return false;
        const char ch = char(c.unicode());
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')
            || ch == '_' || ch == '$' || ch == '+' || ch == '/' || ch == ':' || ch == '.'
            || ch == '-';
    }

    static bool isStringStart(QChar c) { return c == u'"' || isUnquotedChar(c); }

    bool parseString(QString &out)
    {
        if (consume(u'"'))
            return parseQuoted(out);
        const qsizetype start = pos_;
        while (!atEnd() && isUnquotedChar(s_.at(pos_)))
            ++pos_;
        if (pos_ == start)
            return false;
        out = s_.mid(start, pos_ - start);
        return true;
    }

    static int hexValue(QChar c)
    {
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9')
            return u - '0';
        if (u >= 'a' && u <= 'f')
            return u - 'a' + 10;
        if (u >= 'A' && u <= 'F')
            return u - 'A' + 10;
        return -1;
    }

    static bool isOctal(QChar c) { return c >= u'0' && c <= u'7'; }

    bool parseQuoted(QString &out)
    {
        while (!atEnd()) {
            const QChar c = s_.at(pos_++);
            if (c == u'"')
                return true;
            if (c != u'\\') {
                out.append(c);
                continue;
            }
            if (atEnd())
                return false;
            const QChar e = s_.at(pos_++);
            switch (e.unicode()) {
            case 'a': out.append(u'\a'); break;
            case 'b': out.append(u'\b'); break;
            case 'f': out.append(u'\f'); break;
            case 'n': out.append(u'\n'); break;
            case 'r': out.append(u'\r'); break;
            case 't': out.append(u'\t'); break;
            case 'v': out.append(u'\v'); break;
            case 'U': {
                // Up to four hexadecimal digits name one UTF-16 code unit.
                int value = 0;
                int digits = 0;
                while (digits < 4 && !atEnd() && hexValue(s_.at(pos_)) >= 0) {
                    value = value * 16 + hexValue(s_.at(pos_++));
                    ++digits;
                }
                if (digits == 0)
                    return false;
                out.append(QChar(char16_t(value)));
                break;
            }
            default:
                if (isOctal(e)) {
                    // Up to three octal digits, the first one already read.
                    int value = e.unicode() - '0';
                    for (int i = 0; i < 2 && isOctal(peek()); ++i)
                        value = value * 8 + (s_.at(pos_++).unicode() - '0');
                    out.append(QChar(char16_t(value)));
                } else {
                    out.append(e);
                }
            }
        }
        return false; // unterminated
    }

    // Checks the syntax of one value of any kind and discards it.
    bool skipValue(int depth)
    {
        if (depth > maxDepth)
            return false;
        skipSpace();
        const QChar c = peek();
        if (isStringStart(c)) {
            QString ignored;
            return parseString(ignored);
        }
        if (consume(u'(')) {
            skipSpace();
            while (!consume(u')')) {
                if (!skipValue(depth + 1) || !endOfElement(u')'))
                    return false;
            }
            return true;
        }
        if (consume(u'{')) {
            skipSpace();
            while (!consume(u'}')) {
                QString key;
                if (!parseString(key))
                    return false;
                skipSpace();
                if (!consume(u'=') || !skipValue(depth + 1))
                    return false;
                skipSpace();
                if (!consume(u';'))
                    return false;
                skipSpace();
            }
            return true;
        }
        if (consume(u'<')) {
            int digits = 0;
            while (!atEnd() && s_.at(pos_) != u'>') {
                const QChar d = s_.at(pos_++);
                if (hexValue(d) >= 0)
                    ++digits;
                else if (!d.isSpace())
                    return false;
            }
            return consume(u'>') && digits % 2 == 0;
        }
        return false;
    }

    const QString &s_;
    qsizetype pos_ = 0;
    int dropped_ = 0;
};

// The XML property list: <plist><array><array><string>…</string>…</array>…</array></plist>.
bool parseXml(const QByteArray &content, QList<QStringList> &entries, int &dropped)
{
    QXmlStreamReader xml(content);
    if (!xml.readNextStartElement() || xml.name() != u"plist")
        return false;
    if (!xml.readNextStartElement() || xml.name() != u"array")
        return false;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"array") {
            xml.skipCurrentElement();
            ++dropped;
            continue;
        }
        QStringList entry;
        bool allStrings = true;
        while (xml.readNextStartElement()) {
            if (xml.name() == u"string") {
                entry.append(xml.readElementText());
            } else {
                allStrings = false;
                xml.skipCurrentElement();
            }
        }
        if (allStrings && isEntry(entry))
            entries.append(entry);
        else
            ++dropped;
    }
    // The rest of the document must still be well-formed XML.
    while (!xml.atEnd())
        xml.readNext();
    return !xml.hasError();
}

// XML 1.0 cannot carry most control characters, not even escaped.
bool isXmlText(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            return false;
        if (c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !QChar::isLowSurrogate(text.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

// A reader turns a raw CR, or CR LF, into LF; only a character reference keeps it.
void writeString(QXmlStreamWriter &xml, const QString &text)
{
    xml.writeStartElement(QStringLiteral("string"));
    const QStringList pieces = text.split(u'\r');
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            xml.writeEntityReference(QStringLiteral("#13"));
        if (!pieces.at(i).isEmpty())
            xml.writeCharacters(pieces.at(i));
    }
    xml.writeEndElement();
}

} // namespace

QString SiteListFile::resolveHomePath(const QString &path)
{
    if (path != u"~" && !path.startsWith(u"~/"))
        return path;
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        home = QDir::homePath();
    return home + path.mid(1);
}

QList<QStringList> SiteListFile::parse(const QByteArray &content, bool *complete)
{
    QByteArray body = content;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    const QByteArray trimmed = body.trimmed();
    QList<QStringList> entries;
    bool ok = false;
    int dropped = 0;
    if (trimmed.startsWith('<')) {
        ok = parseXml(body, entries, dropped);
    } else {
        const QString text = QString::fromUtf8(body);
        TextParser parser(text);
        ok = parser.parseDocument(entries);
        dropped = parser.dropped();
    }
    if (complete)
        *complete = ok && dropped == 0;
    return ok ? entries : QList<QStringList>();
}

QList<QStringList> SiteListFile::read(const QString &path, State *state)
{
    State ignored;
    State &result = state ? *state : ignored;
    const QFileInfo info(resolveHomePath(path));
    result = State::Damaged;
    if (!info.exists() && !info.isSymLink()) {
        result = State::Missing;
        return {};
    }
    // Only regular files: a FIFO or device would block or never end.
    if (!info.isFile() || info.size() > maxFileSize)
        return {};
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.read(maxFileSize + 1);
    if (content.size() > maxFileSize)
        return {};
    bool complete = false;
    QList<QStringList> entries = parse(content, &complete);
    if (complete)
        result = State::Read;
    return entries;
}

QByteArray SiteListFile::toXml(const QList<QStringList> &entries)
{
    for (const QStringList &entry : entries)
        for (const QString &text : entry)
            if (!isXmlText(text))
                return {};
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(-1); // tabs, as other property list writers indent
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("array"));
    for (const QStringList &entry : entries) {
        xml.writeStartElement(QStringLiteral("array"));
        for (const QString &text : entry)
            writeString(xml, text);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError())
        return {};
    return out;
}

bool SiteListFile::write(const QString &path, const QList<QStringList> &entries)
{
    const QByteArray content = toXml(entries);
    if (content.isEmpty())
        return false;
    // The new content goes to a temporary file beside the old one, which only replaces it
    // once complete. The temporary file would otherwise take over the permissions of the
    // file it replaces; passwords are readable by the owner alone whatever they were.
    QSaveFile file(resolveHomePath(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        return false; // the unfinished temporary file goes with `file`
    }
    if (file.write(content) != content.size()) {
        return false; // the unfinished temporary file goes with `file`
    }
    return file.commit();
}

} // namespace zodaru
