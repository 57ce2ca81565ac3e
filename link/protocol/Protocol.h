#pragma once

// The note server's wire format: URLs, the one header, form bodies, id texts,
// percent-encoding and the parsing of the JSON answers. Pure functions only.

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

// "http://" + address + ":8080" + path, the address inserted unchanged.
QString requestUrlText(const QString& address, QLatin1String path);
QUrl requestUrl(const QString& address, QLatin1String path);

// ECMA-262 Number::toString for a finite double (shortest round trip,
// no exponent from 1e-6 up to below 1e21, "0" for -0).
QString numberToString(double value);

// The id as written into bodies: numbers by numberToString, strings unchanged,
// booleans and null as their words, no value as "undefined".
QString idText(const QJsonValue& id);

// ECMA-262 encodeURIComponent over UTF-16 text; nullopt for a lone surrogate.
std::optional<QByteArray> encodeURIComponent(QStringView text);

// "noteId=<id>&content=<encoded>"; nullopt when the content cannot be encoded.
std::optional<QByteArray> contentBody(const QJsonValue& id, QStringView content);
// "noteId=<id>&start=<start>&end=<end>"
QByteArray selectionBody(const QJsonValue& id, int start, int end);
// "noteId=<id>"
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
        NoNote,   // `code` is the number 0
        Note,     // the note in `data`
        Malformed // `code` is not 0 but `data` breaks the protocol
    };
    Kind kind = Kind::Malformed;
    QJsonValue noteId{QJsonValue::Undefined};
    bool markdown = false;
    QString content;
};

// nullopt: the body is not a JSON object.
std::optional<NoteLoadAnswer> parseNoteLoad(const QString& body);

// The count shown in the window title: numbers like ids, strings unchanged,
// true/false/null as words; nullopt when absent or the empty string.
std::optional<QString> charCountText(const QJsonValue& count);

} // namespace tavrin::protocol
