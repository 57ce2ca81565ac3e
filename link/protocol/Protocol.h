// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The note server's wire format: URLs, the one header, form bodies, id texts,
// percent-encoding, the parsing of the JSON answers and how large they may be.
// Pure functions only.

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

namespace tavrin::protocol {

inline constexpr int kPort = 8080;

inline constexpr char kHeartBeatPath[] = "/desktop/heartBeat/";
inline constexpr char kGetNotePath[] = "/desktop/getNote/";
inline constexpr char kModifyContentPath[] = "/desktop/modifyNoteContent/";
inline constexpr char kUpdateSelectionPath[] = "/desktop/updateSelection/";
inline constexpr char kSaveNowPath[] = "/desktop/saveNow/";
inline constexpr char kBgPicturePath[] = "/desktop/bgPicture/";
inline constexpr char kFontsPath[] = "/desktop/fonts"; // no trailing slash

// The largest answer body taken for each request (inflated, when compressed);
// a larger one is cut off and fails. A heartbeat is a few dozen bytes. A note
// is its JSON: 8 MiB hold about 8 million ASCII or 2.7 million CJK characters.
// The background picture and the font are fetched by the scene's loaders.
inline constexpr qint64 kMaxHeartbeatAnswerBytes = 8 * 1024;
inline constexpr qint64 kMaxNoteAnswerBytes = 8 * 1024 * 1024;
inline constexpr qint64 kMaxPushAnswerBytes = 64 * 1024;
inline constexpr qint64 kMaxBackgroundBytes = 20 * 1024 * 1024;
inline constexpr qint64 kMaxFontBytes = 30 * 1024 * 1024;

// "http://" + address + ":8080" + path, the address inserted unchanged.
QString requestUrlText(const QString& address, QLatin1String path);
QUrl requestUrl(const QString& address, QLatin1String path);

// ECMA-262 Number::toString for a finite double (shortest round trip,
// no exponent from 1e-6 up to below 1e21, "0" for -0).
QString numberToString(double value);

// The id text: numbers by numberToString, strings unchanged, booleans and
// null as their words, no value as "undefined".
QString idText(const QJsonValue& id);

// ECMA-262 encodeURIComponent over UTF-16 text; nullopt for a lone surrogate.
std::optional<QByteArray> encodeURIComponent(QStringView text);

// One half of a UTF-16 surrogate pair without the other, anywhere in the text.
bool hasLoneSurrogate(QStringView text);
// The text reaches the phone as it is: it holds no lone surrogate (which no
// UTF-8 form can carry).
bool canSendContentExactly(QStringView content);
// The phone gets back the very id it gave: a string without lone surrogates,
// or a number whose text reads back as the same number the phone wrote (at
// most 2^53 in magnitude: beyond that, integers have no exact double). Not
// true, false, null, arrays, objects or no value: a form field is text, so
// these would come back as another id.
bool canSendIdExactly(const QJsonValue& id);

// Every body names the note by "noteId=" and its id text percent-encoded like
// the content, so that no character of it can start another field.
// "noteId=<id>&content=<encoded>"; nullopt when the id or the content cannot be encoded.
std::optional<QByteArray> contentBody(const QJsonValue& id, QStringView content);
// "noteId=<id>&start=<start>&end=<end>"; empty when the id cannot be encoded.
QByteArray selectionBody(const QJsonValue& id, int start, int end);
// "noteId=<id>"; empty when the id cannot be encoded.
QByteArray saveBody(const QJsonValue& id);

struct HeartbeatAnswer {
    QJsonValue noteId{QJsonValue::Undefined};    // `editingNoteId`, Undefined when absent
    QJsonValue charCount{QJsonValue::Undefined}; // `editingCharCount`, Undefined when absent
    std::optional<bool> markdown;                // `editingMarkdown`, when present and boolean
};

// nullopt: the body is not a JSON object; the answer then counts as not come.
std::optional<HeartbeatAnswer> parseHeartbeat(const QString& body);

struct NoteLoadAnswer {
    enum class Kind {
        NoNote,    // `code` is the number 0
        Note,      // the note in `data`, its id and content fit to be sent back exactly
        Malformed, // `code` is not 0 but `data` breaks the protocol
        Inexact,   // a note whose id or content could not be sent back exactly
                   // (canSendIdExactly, canSendContentExactly): it must not be shown
    };
    Kind kind = Kind::Malformed;
    QJsonValue noteId{QJsonValue::Undefined}; // for Note and Inexact
    bool markdown = false;                    // for Note and Inexact
    QString content;                          // for Note only
};

// nullopt: the body is not a JSON object.
std::optional<NoteLoadAnswer> parseNoteLoad(const QString& body);

// The longest count text shown in the window title.
inline constexpr int kMaxCharCountTextLength = 32;

// The count shown in the window title: numbers like ids, strings unchanged,
// true/false/null as words; nullopt when absent or the empty string. A longer
// text is cut to kMaxCharCountTextLength UTF-16 units, never inside a
// surrogate pair, the last being "…".
std::optional<QString> charCountText(const QJsonValue& count);

} // namespace tavrin::protocol
