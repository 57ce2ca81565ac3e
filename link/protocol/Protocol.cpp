// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/protocol/Protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <cmath>

namespace tavrin::protocol {

namespace {

bool isUnreservedInUriComponent(char16_t unit) {
    if ((unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
        (unit >= u'0' && unit <= u'9'))
        return true;
    switch (unit) {
    case u'-':
    case u'_':
    case u'.':
    case u'!':
    case u'~':
    case u'*':
    case u'\'':
    case u'(':
    case u')':
        return true;
    default:
        return false;
    }
}

// Writes through a raw cursor: the caller has made room for the worst case,
// nine bytes per UTF-16 unit (a BMP character is three UTF-8 bytes).
void writePercentByte(char*& out, unsigned byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    *out++ = '%';
    *out++ = kHex[(byte >> 4) & 0xF];
    *out++ = kHex[byte & 0xF];
}

void writePercentUtf8(char*& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        writePercentByte(out, codePoint);
    } else if (codePoint < 0x800) {
        writePercentByte(out, 0xC0 | (codePoint >> 6));
        writePercentByte(out, 0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        writePercentByte(out, 0xE0 | (codePoint >> 12));
        writePercentByte(out, 0x80 | ((codePoint >> 6) & 0x3F));
        writePercentByte(out, 0x80 | (codePoint & 0x3F));
    } else {
        writePercentByte(out, 0xF0 | (codePoint >> 18));
        writePercentByte(out, 0x80 | ((codePoint >> 12) & 0x3F));
        writePercentByte(out, 0x80 | ((codePoint >> 6) & 0x3F));
        writePercentByte(out, 0x80 | (codePoint & 0x3F));
    }
}

std::optional<QJsonObject> parseObject(const QString& body) {
    // Qt's parser drops a U+FEFF that starts a string, as if it were a byte
    // order mark: written as an escape it stays. (One that starts the answer
    // is a byte order mark, and is left for the parser to skip.)
    constexpr QChar kBom(0xFEFF);
    QString escaped;
    if (body.indexOf(kBom, 1) > 0) {
        escaped = body.left(1) + body.mid(1).replace(kBom, QLatin1String("\\ufeff"));
    }
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson((escaped.isNull() ? body : escaped).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// JavaScript's String(value) for a value that came from JSON.
QString jsonValueText(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Double:
        return numberToString(value.toDouble());
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Array: {
        // Array.prototype.join: null elements give empty texts.
        QStringList parts;
        for (const QJsonValue& element : value.toArray())
            parts.append(element.isNull() ? QString() : jsonValueText(element));
        return parts.join(QLatin1Char(','));
    }
    case QJsonValue::Object:
        return QStringLiteral("[object Object]");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("undefined");
}

// At most kMaxCharCountTextLength units: a window title is no place for megabytes.
QString capped(const QString& text) {
    if (text.size() <= kMaxCharCountTextLength)
        return text;
    int keep = kMaxCharCountTextLength - 1;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

} // namespace

QString requestUrlText(const QString& address, QLatin1String path) {
    return QLatin1String("http://") + address + QLatin1Char(':') + QString::number(kPort) + path;
}

QUrl requestUrl(const QString& address, QLatin1String path) {
    return QUrl(requestUrlText(address, path), QUrl::TolerantMode);
}

QString numberToString(double value) {
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0)
        return QStringLiteral("0"); // -0 included
    if (value < 0)
        return QLatin1Char('-') + numberToString(-value);

    // Shortest round-trip digits, as "d[.ddd]e[+-]xx".
    const QString scientific = QString::number(value, 'e', QLocale::FloatingPointShortest);
    const int exponentMark = scientific.indexOf(QLatin1Char('e'));
    QString digits = scientific.left(exponentMark);
    digits.remove(QLatin1Char('.'));
    const int exponent = scientific.mid(exponentMark + 1).toInt();

    const int k = digits.size(); // number of significant digits
    const int n = exponent + 1;  // position of the decimal point
    if (k <= n && n <= 21)
        return digits + QString(n - k, QLatin1Char('0'));
    if (0 < n && n <= 21)
        return digits.left(n) + QLatin1Char('.') + digits.mid(n);
    if (-6 < n && n <= 0)
        return QLatin1String("0.") + QString(-n, QLatin1Char('0')) + digits;

    const QString exponentText =
        (n - 1 >= 0 ? QLatin1String("e+") : QLatin1String("e-")) + QString::number(std::abs(n - 1));
    if (k == 1)
        return digits + exponentText;
    return digits.left(1) + QLatin1Char('.') + digits.mid(1) + exponentText;
}

QString idText(const QJsonValue& id) {
    return jsonValueText(id);
}

std::optional<QByteArray> encodeURIComponent(QStringView text) {
    const auto length = text.size();
    QByteArray out(int(length) * 9, Qt::Uninitialized);
    char* const begin = out.data();
    char* cursor = begin;
    const QChar* units = text.data();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t unit = units[i].unicode();
        if (isUnreservedInUriComponent(unit)) {
            *cursor++ = static_cast<char>(unit);
        } else if (QChar::isHighSurrogate(unit)) {
            if (i + 1 >= length || !units[i + 1].isLowSurrogate())
                return std::nullopt;
            writePercentUtf8(cursor, QChar::surrogateToUcs4(unit, units[i + 1].unicode()));
            ++i;
        } else if (QChar::isLowSurrogate(unit)) {
            return std::nullopt;
        } else {
            writePercentUtf8(cursor, unit);
        }
    }
    out.truncate(int(cursor - begin));
    return out;
}

bool hasLoneSurrogate(QStringView text) {
    const auto length = text.size();
    const QChar* units = text.data();
    for (qsizetype i = 0; i < length; ++i) {
        if (!units[i].isSurrogate())
            continue;
        if (units[i].isHighSurrogate() && i + 1 < length && units[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

bool canSendContentExactly(QStringView content) {
    return !hasLoneSurrogate(content);
}

bool canSendIdExactly(const QJsonValue& id) {
    // 2^53: up to here every integer is a double, and the shortest text of a
    // double reads back as that double.
    constexpr double kLargestExactInteger = 9007199254740992.0;
    switch (id.type()) {
    case QJsonValue::Double:
        return std::isfinite(id.toDouble()) && std::abs(id.toDouble()) <= kLargestExactInteger;
    case QJsonValue::String:
        return !hasLoneSurrogate(id.toString());
    default:
        return false;
    }
}

namespace {

std::optional<QByteArray> noteIdField(const QJsonValue& id) {
    std::optional<QByteArray> encoded = encodeURIComponent(idText(id));
    if (!encoded)
        return std::nullopt;
    return "noteId=" + *encoded;
}

} // namespace

std::optional<QByteArray> contentBody(const QJsonValue& id, QStringView content) {
    std::optional<QByteArray> field = noteIdField(id);
    std::optional<QByteArray> encoded = encodeURIComponent(content);
    if (!field || !encoded)
        return std::nullopt;
    return *field + "&content=" + *encoded;
}

QByteArray selectionBody(const QJsonValue& id, int start, int end) {
    const std::optional<QByteArray> field = noteIdField(id);
    if (!field)
        return {};
    return *field + "&start=" + QByteArray::number(start) + "&end=" + QByteArray::number(end);
}

QByteArray saveBody(const QJsonValue& id) {
    return noteIdField(id).value_or(QByteArray());
}

std::optional<HeartbeatAnswer> parseHeartbeat(const QString& body) {
    const std::optional<QJsonObject> object = parseObject(body);
    if (!object)
        return std::nullopt;
    HeartbeatAnswer answer;
    answer.noteId = object->value(QLatin1String("editingNoteId"));
    answer.charCount = object->value(QLatin1String("editingCharCount"));
    const QJsonValue markdown = object->value(QLatin1String("editingMarkdown"));
    if (markdown.isBool())
        answer.markdown = markdown.toBool();
    return answer;
}

std::optional<NoteLoadAnswer> parseNoteLoad(const QString& body) {
    const std::optional<QJsonObject> object = parseObject(body);
    if (!object)
        return std::nullopt;
    NoteLoadAnswer answer;
    const QJsonValue code = object->value(QLatin1String("code"));
    if (code.isDouble() && code.toDouble() == 0) {
        answer.kind = NoteLoadAnswer::Kind::NoNote;
        return answer;
    }
    answer.kind = NoteLoadAnswer::Kind::Malformed;
    const QJsonValue data = object->value(QLatin1String("data"));
    if (!data.isObject())
        return answer;
    const QJsonObject note = data.toObject();
    const QJsonValue noteId = note.value(QLatin1String("noteId"));
    const QJsonValue markdown = note.value(QLatin1String("markdown"));
    const QJsonValue content = note.value(QLatin1String("content"));
    if (noteId.isUndefined() || !markdown.isBool() || !content.isString())
        return answer;
    answer.noteId = noteId;
    answer.markdown = markdown.toBool();
    // A note that could not go back as it came must never be taken for it.
    if (!canSendIdExactly(noteId) || !canSendContentExactly(content.toString())) {
        answer.kind = NoteLoadAnswer::Kind::Inexact;
        return answer;
    }
    answer.kind = NoteLoadAnswer::Kind::Note;
    answer.content = content.toString();
    return answer;
}

std::optional<QString> charCountText(const QJsonValue& count) {
    if (count.isUndefined() || (count.isString() && count.toString().isEmpty()))
        return std::nullopt;
    return capped(jsonValueText(count));
}

} // namespace tavrin::protocol
