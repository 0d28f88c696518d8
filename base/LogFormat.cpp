// SPDX-License-Identifier: GPL-3.0-or-later
// Lines made from a format and its arguments: placeholders read once per format, text
// escaped as the log shows it.
#include "base/LogFormat.h"

#include "base/ByteNames.h"

#include <QString>

#include <charconv>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace zodaru {

void LogArg::appendTo(QString &out) const
{
    switch (kind) {
    case Kind::Text:
        out += text;
        break;
    case Kind::Signed:
        out += QString::number(number.i);
        break;
    case Kind::Unsigned:
        out += QString::number(number.u);
        break;
    case Kind::Real:
        out += QString::number(number.d);
        break;
    case Kind::Bytes:
        out += nameFromBytes(bytes);
        break;
    }
}

namespace {

// Walks a format: `text` gets each run of literal text (a "%%" gives "%", a placeholder cut
// short by the end of the format stays text), `place` the index of each placeholder, in
// order from 0. Formats are ASCII apart from the odd accented letter, which is UTF-8.
template <typename Text, typename Place>
void walkFormat(const char *format, Text &&text, Place &&place)
{
    qsizetype next = 0;
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            const char *start = p;
            while (p[1] && p[1] != '%')
                ++p;
            text(QByteArrayView(start, p - start + 1));
            continue;
        }
        const char *directive = p + 1;
        if (*directive == '%') {
            text(QByteArrayView("%"));
            p = directive;
            continue;
        }
        // Skip flags, width, precision and length modifiers: "%.2f", "%ld".
        while (*directive && std::strchr("-+ #0123456789.lhqzjt", *directive))
            ++directive;
        if (!*directive) {
            text(QByteArrayView(p));
            break;
        }
        place(next++);
        p = directive;
    }
}

} // namespace

QString formatLog(const char *format, const LogArg *args, qsizetype count)
{
    QString out;
    walkFormat(
        format, [&out](QByteArrayView text) { out += QString::fromUtf8(text); },
        [&](qsizetype index) {
            if (index < count)
                args[index].appendTo(out);
        });
    return out;
}

namespace {

// Appends `text` escaped as escapedForLog() escapes it, when it is all ASCII: one pass, no
// text built. False, with `out` as it was, when it holds anything else.
template <typename Char>
bool appendAsciiEscaped(QByteArray &out, const Char *text, qsizetype size)
{
    bool plain = true;
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned c = unsigned(text[i]);
        if (c >= 0x80)
            return false;
        plain = plain && c >= 0x20 && c < 0x7F;
    }
    if constexpr (sizeof(Char) == 1) {
        if (plain) {
            out.append(text, size);
            return true;
        }
    }
    const qsizetype start = out.size();
    out.resize(start + (plain ? size : size * 4)); // "\x1b" is the longest a character becomes
    char *to = out.data() + start;
    static constexpr char kHex[] = "0123456789abcdef";
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned c = unsigned(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            *to++ = char(c);
            continue;
        }
        *to++ = '\\';
        if (c == '\r') {
            *to++ = 'r';
        } else if (c == '\n') {
            *to++ = 'n';
        } else if (c == '\t') {
            *to++ = 't';
        } else {
            *to++ = 'x';
            *to++ = kHex[c >> 4];
            *to++ = kHex[c & 0xF];
        }
    }
    out.truncate(to - out.constData());
    return true;
}

// One piece of a line; `endsLine` tells whether its last character is a newline.
void appendEscaped(QByteArray &out, QStringView text, bool &endsLine)
{
    if (text.isEmpty())
        return;
    endsLine = text.back() == QLatin1Char('\n');
    if (!appendAsciiEscaped(out, text.utf16(), text.size()))
        out.append(escapedForLog(text).toUtf8());
}

void appendEscaped(QByteArray &out, QByteArrayView utf8, bool &endsLine)
{
    if (utf8.isEmpty())
        return;
    endsLine = utf8.back() == '\n';
    if (!appendAsciiEscaped(out, utf8.data(), utf8.size()))
        out.append(escapedForLog(QString::fromUtf8(utf8)).toUtf8());
}

template <typename Number>
void appendNumber(QByteArray &out, Number value, bool &endsLine)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end - digits);
    endsLine = false;
}

void appendArg(QByteArray &out, const LogArg &arg, bool &endsLine)
{
    switch (arg.kind) {
    case LogArg::Kind::Text:
        appendEscaped(out, QStringView(arg.text), endsLine);
        break;
    case LogArg::Kind::Signed:
        appendNumber(out, arg.number.i, endsLine);
        break;
    case LogArg::Kind::Unsigned:
        appendNumber(out, arg.number.u, endsLine);
        break;
    case LogArg::Kind::Real: {
        const QString text = QString::number(arg.number.d);
        appendEscaped(out, QStringView(text), endsLine);
        break;
    }
    case LogArg::Kind::Bytes:
        // Names and listings are mostly ASCII: their bytes go as they are, escaped; others
        // are decoded first, as the text of the line would be.
        if (arg.bytes.isEmpty())
            break;
        endsLine = arg.bytes.back() == '\n';
        if (!appendAsciiEscaped(out, arg.bytes.constData(), arg.bytes.size()))
            out.append(escapedForLog(nameFromBytes(arg.bytes)).toUtf8());
        break;
    }
}

} // namespace

bool appendLogLine(QByteArray &out, const char *format, const LogArg *args, qsizetype count)
{
    bool endsLine = false;
    walkFormat(
        format, [&](QByteArrayView text) { appendEscaped(out, text, endsLine); },
        [&](qsizetype index) {
            if (index < count)
                appendArg(out, args[index], endsLine);
        });
    // The newline that ends the message is the line's own, not an escaped one.
    if (endsLine)
        out.chop(2);
    out.append('\n');
    return endsLine;
}

namespace {

// A format as its lines are made of: literal text, escaped once, and the places of the
// arguments. A transfer logs the same few formats hundreds of thousands of times; the
// writer keeps each one it meets this way instead of reading it character by character.
class CompiledFormat final {
public:
    explicit CompiledFormat(const char *format)
    {
        walkFormat(
            format,
            [this](QByteArrayView text) {
                if (pieces_.empty() || pieces_.back().place >= 0)
                    pieces_.push_back({});
                appendEscaped(pieces_.back().text, text, pieces_.back().endsLine);
            },
            [this](qsizetype index) { pieces_.push_back({QByteArray(), index, false}); });
    }

    // What appendLogLine() appends for the same format and arguments.
    bool appendLine(QByteArray &out, const LogArg *args, qsizetype count) const
    {
        bool endsLine = false;
        for (const Piece &piece : pieces_) {
            if (piece.place < 0) {
                out.append(piece.text);
                endsLine = piece.endsLine;
            } else if (piece.place < count) {
                appendArg(out, args[piece.place], endsLine);
            }
        }
        if (endsLine)
            out.chop(2);
        out.append('\n');
        return endsLine;
    }

private:
    struct Piece {
        QByteArray text;      // escaped literal text
        qsizetype place = -1; // or the index of an argument
        bool endsLine = false; // the literal's last character is a newline
    };
    std::vector<Piece> pieces_;
};

} // namespace

// The formats met so far, by address (they are literals), kept for the program's life.
void appendCompiledLine(QByteArray &out, const char *format, const LogArg *args, qsizetype count)
{
    static auto *const formats = new std::unordered_map<const char *, CompiledFormat>;
    auto found = formats->find(format);
    if (found == formats->end())
        found = formats->try_emplace(format, format).first;
    found->second.appendLine(out, args, count);
}

} // namespace zodaru
