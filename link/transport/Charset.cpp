// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/Charset.h"

#include <QList>
#include <QTextCodec>

namespace tavrin::transport {

namespace {

// IANA MIBenum numbers of the Unicode encodings whose codecs Qt has built in.
constexpr int kMibUtf8 = 106;
constexpr int kMibUtf16BE = 1013;
constexpr int kMibUtf16LE = 1014;
constexpr int kMibUtf16 = 1015;
constexpr int kMibUtf32 = 1017;
constexpr int kMibUtf32BE = 1018;
constexpr int kMibUtf32LE = 1019;

bool isUnicodeMib(int mib) {
    return mib == kMibUtf8 || mib == kMibUtf16 || mib == kMibUtf16BE || mib == kMibUtf16LE ||
           mib == kMibUtf32 || mib == kMibUtf32BE || mib == kMibUtf32LE;
}

bool isUtf32Mib(int mib) {
    return mib == kMibUtf32 || mib == kMibUtf32BE || mib == kMibUtf32LE;
}

struct ByteOrderMark {
    QByteArray bytes;
    const char* codec;
};

// The encoding a byte order mark at the start of `body` names, and the mark's
// length. FF FE 00 00 is UTF-32LE only under a UTF-32 label: otherwise it is
// the UTF-16LE mark followed by U+0000.
std::optional<ByteOrderMark> byteOrderMark(const QByteArray& body, int labelledMib) {
    static const QList<ByteOrderMark> marks{
        {QByteArray("\x00\x00\xFE\xFF", 4), "UTF-32BE"},
        {QByteArray("\xFF\xFE\x00\x00", 4), "UTF-32LE"},
        {QByteArray("\xEF\xBB\xBF", 3), "UTF-8"},
        {QByteArray("\xFE\xFF", 2), "UTF-16BE"},
        {QByteArray("\xFF\xFE", 2), "UTF-16LE"},
    };
    for (const ByteOrderMark& mark : marks) {
        if (!body.startsWith(mark.bytes))
            continue;
        if (qstrcmp(mark.codec, "UTF-32LE") == 0 && !isUtf32Mib(labelledMib))
            continue;
        return mark;
    }
    return std::nullopt;
}

bool hasLoneSurrogate(const QString& text) {
    const int length = text.size();
    for (int i = 0; i < length; ++i) {
        const QChar unit = text.at(i);
        if (!unit.isSurrogate())
            continue;
        if (unit.isHighSurrogate() && i + 1 < length && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

std::optional<QString> refuse(DecodeProblem reason, DecodeProblem* problem) {
    if (problem)
        *problem = reason;
    return std::nullopt;
}

} // namespace

QByteArray charsetParameter(const QByteArray& contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (int i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts.at(i).trimmed();
        const int equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = parameter.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2).trimmed();
        return value;
    }
    return {};
}

std::optional<QString> decodeBody(const QByteArray& body, const QByteArray& contentType,
                                  DecodeProblem* problem) {
    if (problem)
        *problem = DecodeProblem::None;

    const QByteArray label = charsetParameter(contentType);
    QTextCodec* labelled = nullptr;
    if (!label.isEmpty()) {
        // A NUL would end the name early and decode by another charset than the one named.
        labelled = label.contains('\0') ? nullptr : QTextCodec::codecForName(label);
        if (!labelled)
            return refuse(DecodeProblem::UnknownCharset, problem);
    }
    const int labelledMib = labelled ? labelled->mibEnum() : kMibUtf8;

    QTextCodec* codec = nullptr;
    QByteArray text = body;
    if (const std::optional<ByteOrderMark> mark = byteOrderMark(body, labelledMib)) {
        codec = QTextCodec::codecForName(mark->codec);
        text = body.mid(mark->bytes.size());
    } else if (labelledMib == kMibUtf16) {
        codec = QTextCodec::codecForMib(kMibUtf16BE); // no mark: big-endian (RFC 2781)
    } else if (labelledMib == kMibUtf32) {
        codec = QTextCodec::codecForMib(kMibUtf32BE);
    } else {
        codec = labelled ? labelled : QTextCodec::codecForMib(kMibUtf8);
    }

    // The mark, if any, is gone: a second one is a character of the text.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString decoded = codec->toUnicode(text.constData(), text.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0 || hasLoneSurrogate(decoded))
        return refuse(DecodeProblem::InvalidText, problem);
    // Codecs from outside Qt (ICU) substitute U+FFFD or U+001A for bytes they cannot
    // read without counting them: such a text must encode back to the very bytes.
    if (!isUnicodeMib(codec->mibEnum()) &&
        (decoded.contains(QChar(QChar::ReplacementCharacter)) || decoded.contains(QChar(0x1A))) &&
        codec->fromUnicode(decoded) != text)
        return refuse(DecodeProblem::InvalidText, problem);
    return decoded;
}

} // namespace tavrin::transport
