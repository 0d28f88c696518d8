// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ByteNames.h"

#include <algorithm>

namespace zodaru {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscapedByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

// The length of the valid UTF-8 sequence starting at bytes[i], or 0 when there is none.
// Overlong forms, encoded surrogates and code points past U+10FFFF are not valid: an encoded
// surrogate in particular would otherwise be read back as an escaped byte.
qsizetype validSequence(QByteArrayView bytes, qsizetype i, char32_t &codePoint)
{
    const auto at = [&](qsizetype k) { return quint8(bytes[k]); };
    const quint8 lead = at(i);
    qsizetype length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        const quint8 next = at(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString nameFromBytes(QByteArrayView bytes)
{
    // ASCII, by far the common case (whole listings come through here), maps byte for byte.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return quint8(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QString out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t codePoint = 0;
        const qsizetype length = validSequence(bytes, i, codePoint);
        if (length == 0) {
            out.append(QChar(char16_t(kEscapeBase + quint8(bytes[i]))));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            out.append(QChar(QChar::highSurrogate(codePoint)));
            out.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            out.append(QChar(char16_t(codePoint)));
        }
        i += length;
    }
    return out;
}

QByteArray bytesOfName(QStringView name)
{
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool pairs = QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode());
        if (!pairs && isEscapedByte(c)) {
            out.append(char(c - kEscapeBase));
            continue;
        }
        if (pairs) {
            out.append(name.mid(i, 2).toUtf8());
            ++i;
        } else {
            out.append(name.mid(i, 1).toUtf8());
        }
    }
    return out;
}

bool hasUndecodedBytes(QStringView name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (isEscapedByte(c))
            return true;
    }
    return false;
}

QString displayedName(QStringView name)
{
    if (!hasUndecodedBytes(name))
        return name.toString();
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            out.append(name.mid(i, 2));
            ++i;
            continue;
        }
        out.append(isEscapedByte(c) ? QChar(QChar::ReplacementCharacter) : QChar(c));
    }
    return out;
}

QString escapedForLog(QStringView text)
{
    QString out;
    out.reserve(text.size());
    const auto hex = [&out](unsigned value) {
        out.append(QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0')));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out.append(text.mid(i, 2));
            ++i;
        } else if (c == u'\r') {
            out.append(QLatin1String("\\r"));
        } else if (c == u'\n') {
            out.append(QLatin1String("\\n"));
        } else if (c == u'\t') {
            out.append(QLatin1String("\\t"));
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            hex(c);
        } else if (isEscapedByte(c)) {
            hex(unsigned(c - kEscapeBase));
        } else if (QChar::isSurrogate(c)) {
            out.append(QChar(QChar::ReplacementCharacter));
        } else {
            out.append(QChar(c));
        }
    }
    return out;
}

} // namespace zodaru
