// SPDX-License-Identifier: GPL-3.0-or-later
// Thousands of generated and mutated answers put to the parsers of the heartbeat, the note
// load, the char count, the update check and to the charset decoding: random JSON shapes,
// deep nesting, huge strings, wrong types, lone surrogates, truncations, random bytes and
// random charset labels. Whatever comes: no crash; a note is either refused or has an id
// and content that go back to the phone exactly, the id being the one in the JSON; the
// char count stays short enough for a title; decoded text never holds a lone surrogate.
//
// Seeded: the seed is printed, and TAVRIN_TEST_SEED replays another run.

#include "link/protocol/Protocol.h"
#include "link/transport/Transport.h"
#include "update/UpdateAnswer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>
#include <QTextCodec>

#include <cmath>
#include <optional>

namespace protocol = tavrin::protocol;
namespace transport = tavrin::transport;
using protocol::NoteLoadAnswer;

namespace {

constexpr int kGenerated = 3000;
constexpr int kMutated = 3000;
constexpr int kDecoded = 3000;

// A JSON literal and the value it stands for, as far as the test knows it.
struct Literal {
    QString json;
    QJsonValue value{QJsonValue::Undefined}; // Undefined: not known (a shape of its own)
};

class Generator {
public:
    explicit Generator(quint32 seed)
        : m_random(seed) {}

    int below(int n) { return int(m_random.bounded(quint32(qMax(n, 1)))); }
    bool chance(int percent) { return below(100) < percent; }
    QRandomGenerator& random() { return m_random; }

    // A string literal with escapes, control characters, CJK, pairs and lone surrogates.
    Literal string(int maxLength = 12) {
        QString value;
        QString json = QStringLiteral("\"");
        const int length = below(maxLength + 1);
        for (int i = 0; i < length; ++i) {
            switch (below(9)) {
            case 0: { // a lone half, escaped: JSON may say it, nothing can send it
                const char16_t unit = char16_t(0xD800 + below(0x800));
                value += QChar(unit);
                json += QStringLiteral("\\u%1").arg(unsigned(unit), 4, 16, QLatin1Char('0'));
                break;
            }
            case 1: { // a whole pair, escaped
                const char32_t point = char32_t(0x10000 + below(0x100000));
                const QString pair = QString::fromUcs4(&point, 1);
                value += pair;
                json += QStringLiteral("\\u%1\\u%2")
                            .arg(unsigned(pair.at(0).unicode()), 4, 16, QLatin1Char('0'))
                            .arg(unsigned(pair.at(1).unicode()), 4, 16, QLatin1Char('0'));
                break;
            }
            case 2: { // form syntax and escapes
                static const char* const kMarks[] = {"&",    "=",   "+",   "%",   " ",       "\\\"",
                                                     "\\\\", "\\n", "\\r", "\\t", "\\u0000", "/"};
                static const char* const kValues[] = {"&",  "=",  "+",  "%",  " ", "\"",
                                                      "\\", "\n", "\r", "\t", "",  "/"};
                const int mark = below(12);
                json += QLatin1String(kMarks[mark]);
                value += mark == 10 ? QString(QChar(0)) : QString::fromLatin1(kValues[mark]);
                break;
            }
            case 3:
            case 4: { // CJK, raw
                const QChar c(char16_t(0x4E00 + below(0x5000)));
                value += c;
                json += c;
                break;
            }
            default: {
                const QChar c(char16_t('a' + below(26)));
                value += c;
                json += c;
            }
            }
        }
        json += QLatin1Char('"');
        return {json, QJsonValue(value)};
    }

    // A number literal: small and huge integers, 2^53 and around it, fractions, exponents.
    Literal number() {
        QString json;
        switch (below(8)) {
        case 0:
            json = QString::number(below(1000));
            break;
        case 1:
            json = QString::number(qint64(m_random.generate64() >> below(64)));
            break;
        case 2:
            json = QStringLiteral("-") + QString::number(m_random.generate64() >> (1 + below(63)));
            break;
        case 3:
            json = QString::number(9007199254740992LL + below(5) - 2);
            break;
        case 4:
            json = QString::number(below(100000)) + QLatin1Char('.') + QString::number(below(1000));
            break;
        case 5:
            json =
                QString::number(below(10)) + QStringLiteral("e") + QString::number(below(40) - 20);
            break;
        case 6:
            json = QStringLiteral("-0");
            break;
        default:
            json = QStringLiteral("1e") + QString::number(300 + below(20)); // may overflow
        }
        return {json, QJsonValue(json.toDouble())};
    }

    // Any JSON value, nested up to `depth`.
    QString value(int depth) {
        switch (below(depth > 0 ? 8 : 5)) {
        case 0:
            return QStringLiteral("null");
        case 1:
            return chance(50) ? QStringLiteral("true") : QStringLiteral("false");
        case 2:
            return number().json;
        case 3:
        case 4:
            return string().json;
        case 5:
        case 6: {
            QStringList items;
            for (int i = below(4); i > 0; --i)
                items << value(depth - 1);
            return QLatin1Char('[') + items.join(QLatin1Char(',')) + QLatin1Char(']');
        }
        default: {
            QStringList members;
            for (int i = below(4); i > 0; --i)
                members << string(4).json + QLatin1Char(':') + value(depth - 1);
            return QLatin1Char('{') + members.join(QLatin1Char(',')) + QLatin1Char('}');
        }
        }
    }

    // An id: mostly a number or a string, sometimes anything.
    Literal id() {
        const int kind = below(10);
        if (kind < 4)
            return number();
        if (kind < 8)
            return string();
        return {value(2), QJsonValue(QJsonValue::Undefined)};
    }

    QString object(const QList<QPair<QString, QString>>& members) {
        QList<QPair<QString, QString>> shuffled = members;
        for (int i = shuffled.size() - 1; i > 0; --i)
            shuffled.swapItemsAt(i, below(i + 1));
        QStringList parts;
        for (const auto& [key, json] : shuffled)
            parts << QLatin1Char('"') + key + QStringLiteral("\":") + json;
        if (chance(20))
            parts << string(6).json + QLatin1Char(':') + value(2); // an extra member
        return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
    }

    QString deepNesting() {
        const int depth = chance(50) ? 100000 : 500 + below(1500);
        const bool arrays = chance(50);
        QString text;
        for (int i = 0; i < depth; ++i)
            text += arrays ? QStringLiteral("[") : QStringLiteral("{\"a\":");
        text += QStringLiteral("1");
        for (int i = 0; i < depth; ++i)
            text += arrays ? QLatin1Char(']') : QLatin1Char('}');
        return text;
    }

    QString mutated(QString text) {
        const int times = 1 + below(4);
        for (int i = 0; i < times && !text.isEmpty(); ++i) {
            const int at = below(text.size());
            switch (below(6)) {
            case 0:
                text.truncate(at);
                break;
            case 1:
                text[at] = QChar(char16_t(m_random.bounded(0x10000)));
                break;
            case 2:
                text.insert(at, QChar(char16_t(32 + below(96))));
                break;
            case 3:
                text.remove(at, 1 + below(8));
                break;
            case 4:
                text.insert(at, text.mid(below(text.size()), below(16)));
                break;
            default:
                text += value(2); // trailing garbage
            }
        }
        return text;
    }

    QByteArray bytes(int maxLength) {
        QByteArray data(below(maxLength + 1), Qt::Uninitialized);
        for (char& c : data)
            c = char(m_random.bounded(256));
        return data;
    }

private:
    QRandomGenerator m_random;
};

bool isPrefixOfUnit(const QString& whole, const QString& cut) {
    // The cut text is the start of the whole, then "…"; never half a pair.
    if (!cut.endsWith(QChar(0x2026)))
        return cut == whole;
    const QString kept = cut.left(cut.size() - 1);
    return whole.startsWith(kept) && (kept.isEmpty() || !kept.back().isHighSurrogate());
}

// UTF-8 with its size: a NUL is a character.
QString utf8(const QByteArray& bytes) {
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

QString shortened(const QString& text) {
    return text.size() <= 200 ? text : text.left(200) + QStringLiteral("...");
}

} // namespace

class FuzzAnswersTest : public QObject {
    Q_OBJECT

    quint32 m_seed = 0;
    int m_notes = 0;
    int m_refused = 0;
    int m_inexact = 0;

    // The checks every note-load answer must pass. `expectedId`/`expectedContent`, when
    // known, are what the JSON said.
    void checkNoteLoad(const QString& text, const std::optional<Literal>& expectedId = {},
                       const std::optional<QString>& expectedContent = {}) {
        const std::optional<NoteLoadAnswer> answer = protocol::parseNoteLoad(text);
        if (!answer || answer->kind != NoteLoadAnswer::Kind::Note) {
            ++m_refused;
            if (answer && answer->kind == NoteLoadAnswer::Kind::Inexact) {
                ++m_inexact;
                QVERIFY2(answer->content.isEmpty(), qPrintable(shortened(text)));
            }
            // What the parser refused as inexact really is.
            if (answer && answer->kind == NoteLoadAnswer::Kind::Inexact && expectedId &&
                expectedContent && !expectedId->value.isUndefined())
                QVERIFY2(!protocol::canSendIdExactly(expectedId->value) ||
                             protocol::hasLoneSurrogate(*expectedContent),
                         qPrintable(shortened(text)));
            return;
        }
        ++m_notes;
        // A note shown is a note that can be pushed, exactly.
        QVERIFY2(protocol::canSendIdExactly(answer->noteId), qPrintable(shortened(text)));
        QVERIFY2(protocol::canSendContentExactly(answer->content), qPrintable(shortened(text)));
        const std::optional<QByteArray> push =
            protocol::contentBody(answer->noteId, answer->content);
        QVERIFY2(push.has_value(), qPrintable(shortened(text)));
        const QByteArray save = protocol::saveBody(answer->noteId);
        QVERIFY2(!protocol::selectionBody(answer->noteId, 0, 0).isEmpty() && !save.isEmpty(),
                 qPrintable(shortened(text)));

        // The id goes back as the one field it is, and reads as the id the phone gave.
        QVERIFY(save.startsWith("noteId="));
        QVERIFY2(!save.mid(7).contains('&') && !save.mid(7).contains('='), save.constData());
        const QString sentId = utf8(QByteArray::fromPercentEncoding(save.mid(7)));
        QCOMPARE(sentId, protocol::idText(answer->noteId));
        if (answer->noteId.isDouble()) {
            // The number written reads back as the same number.
            QCOMPARE(sentId.toDouble(), answer->noteId.toDouble());
        }
        const QList<QByteArray> fields = push->split('&');
        QCOMPARE(fields.size(), 2);
        QVERIFY(fields[1].startsWith("content="));
        QCOMPARE(utf8(QByteArray::fromPercentEncoding(fields[1].mid(8))), answer->content);

        // Never changed: what the parser gives is what the JSON held.
        if (expectedId && !expectedId->value.isUndefined()) {
            QCOMPARE(answer->noteId.type(), expectedId->value.type());
            if (answer->noteId.isString())
                QCOMPARE(answer->noteId.toString(), expectedId->value.toString());
            else
                QCOMPARE(answer->noteId.toDouble(), expectedId->value.toDouble());
        }
        if (expectedContent)
            QCOMPARE(answer->content, *expectedContent);
    }

    void checkHeartbeat(const QString& text) {
        const std::optional<protocol::HeartbeatAnswer> answer = protocol::parseHeartbeat(text);
        if (!answer)
            return;
        const std::optional<QString> count = protocol::charCountText(answer->charCount);
        if (!count)
            return;
        QVERIFY2(count->size() <= protocol::kMaxCharCountTextLength,
                 qPrintable(QString::number(count->size())));
        if (answer->charCount.isString())
            QVERIFY2(isPrefixOfUnit(answer->charCount.toString(), *count), qPrintable(*count));
    }

    void checkUpdateAnswer(const QString& text) {
        const tavrin::update::UpdateAnswer answer = tavrin::update::readUpdateAnswer(text);
        if (answer.kind == tavrin::update::UpdateAnswer::Kind::Nothing) {
            QVERIFY(answer.text.isEmpty());
            return;
        }
        QVERIFY(!answer.text.isEmpty());
        const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
        if (answer.kind == tavrin::update::UpdateAnswer::Kind::NewVersion) {
            QCOMPARE(object.value(QLatin1String("code")).toDouble(), 1.0);
            QCOMPARE(answer.text, object.value(QLatin1String("data"))
                                      .toObject()
                                      .value(QLatin1String("upgradeNote"))
                                      .toString());
        } else {
            QCOMPARE(answer.text, object.value(QLatin1String("msg")).toString());
        }
    }

    void checkAll(const QString& text) {
        checkNoteLoad(text);
        checkHeartbeat(text);
        checkUpdateAnswer(text);
    }

private slots:
    void initTestCase() {
        // TAVRIN_TEST_SEED replays another run.
        bool seedGiven = false;
        const quint32 given = qEnvironmentVariable("TAVRIN_TEST_SEED").toUInt(&seedGiven);
        m_seed = seedGiven ? given : 20260311u;
        qInfo("random seed %u", m_seed);
    }

    void generatedNoteLoads() {
        Generator gen(m_seed);
        for (int i = 0; i < kGenerated && !QTest::currentTestFailed(); ++i) {
            const Literal id = gen.id();
            const Literal content = gen.chance(90) ? gen.string(40) : Literal{gen.value(2)};
            const QString markdown = gen.chance(85) ? QStringLiteral("true") : gen.value(1);
            QList<QPair<QString, QString>> data;
            if (gen.chance(95))
                data.append({QStringLiteral("noteId"), id.json});
            if (gen.chance(95))
                data.append({QStringLiteral("markdown"), markdown});
            if (gen.chance(95))
                data.append({QStringLiteral("content"), content.json});
            QList<QPair<QString, QString>> top;
            const int code = gen.below(10);
            if (code < 7)
                top.append({QStringLiteral("code"), QStringLiteral("1")});
            else if (code < 9)
                top.append({QStringLiteral("code"), gen.value(1)});
            top.append({QStringLiteral("data"), gen.chance(90) ? gen.object(data) : gen.value(2)});
            const QString text = gen.object(top);

            std::optional<QString> expectedContent;
            if (content.value.isString())
                expectedContent = content.value.toString();
            checkNoteLoad(text, id, expectedContent);
            checkAll(gen.mutated(text));
            // The same through the wire: encoded, labelled, decoded.
            transport::Answer answer;
            answer.status = 200;
            answer.body = text.toUtf8();
            answer.contentType = "application/json; charset=utf-8";
            if (const std::optional<QString> decoded = answer.decodedText()) {
                QVERIFY(!protocol::hasLoneSurrogate(*decoded));
                checkNoteLoad(*decoded, id, expectedContent);
            }
        }
        qInfo("%d notes taken, %d refused (%d of them inexact)", m_notes, m_refused, m_inexact);
        QVERIFY(m_notes > kGenerated / 10); // the generator makes real notes too
        QVERIFY(m_inexact > kGenerated / 50);
    }

    void generatedHeartbeatsAndUpdateAnswers() {
        Generator gen(m_seed + 1);
        for (int i = 0; i < kGenerated && !QTest::currentTestFailed(); ++i) {
            QList<QPair<QString, QString>> heartbeat{
                {QStringLiteral("editingNoteId"), gen.id().json},
                {QStringLiteral("editingCharCount"),
                 gen.chance(50) ? gen.number().json : gen.value(3)},
                {QStringLiteral("editingMarkdown"), gen.value(1)}};
            const QString text = gen.object(heartbeat);
            checkHeartbeat(text);
            checkAll(gen.mutated(text));

            QList<QPair<QString, QString>> update{
                {QStringLiteral("code"), gen.chance(50) ? QStringLiteral("1") : gen.value(1)},
                {QStringLiteral("msg"), gen.chance(70) ? gen.string(20).json : gen.value(1)},
                {QStringLiteral("data"),
                 gen.object({{QStringLiteral("upgradeNote"),
                              gen.chance(70) ? gen.string(20).json : gen.value(1)}})}};
            const QString check = gen.object(update);
            checkUpdateAnswer(check);
            checkAll(gen.mutated(check));
        }
    }

    void randomShapesAndBytes() {
        Generator gen(m_seed + 2);
        for (int i = 0; i < kMutated && !QTest::currentTestFailed(); ++i) {
            switch (gen.below(3)) {
            case 0:
                checkAll(gen.value(6));
                break;
            case 1:
                checkAll(gen.mutated(gen.value(4)));
                break;
            default: {
                const QByteArray bytes = gen.bytes(200);
                checkAll(QString::fromUtf8(bytes));
                checkAll(QString::fromLatin1(bytes));
            }
            }
        }
        // Deep nesting, top level and inside the fields.
        for (int i = 0; i < 6; ++i) {
            const QString deep = gen.deepNesting();
            checkAll(deep);
            checkAll(QStringLiteral("{\"code\":1,\"data\":{\"noteId\":1,\"markdown\":false,"
                                    "\"content\":") +
                     deep + QStringLiteral("}}"));
            checkAll(QStringLiteral("{\"editingNoteId\":1,\"editingCharCount\":") + deep +
                     QLatin1Char('}'));
        }
    }

    // Huge strings where a few bytes belong: the title takes 32 characters of them at most.
    void hugeStrings() {
        Generator gen(m_seed + 3);
        for (const int megabytes : {1, 4, 20}) {
            QString huge(megabytes * 1000 * 1000, QLatin1Char('9'));
            huge[gen.below(huge.size())] = QChar(0x5b57);
            checkHeartbeat(QStringLiteral("{\"editingNoteId\":1,\"editingCharCount\":\"") + huge +
                           QStringLiteral("\"}"));
            if (megabytes > 4)
                continue; // a note's JSON is held to 8 MiB before it gets here
            const QString note = QStringLiteral("{\"code\":1,\"data\":{\"noteId\":\"") + huge +
                                 QStringLiteral("\",\"markdown\":false,\"content\":\"") + huge +
                                 QStringLiteral("\"}}");
            checkNoteLoad(note, Literal{QString(), QJsonValue(huge)}, huge);
            QJsonArray many;
            for (int n = 0; n < megabytes * 100000; ++n)
                many.append(n);
            const std::optional<QString> count = protocol::charCountText(many);
            QVERIFY(count && count->size() <= protocol::kMaxCharCountTextLength);
        }
    }

    // Bodies in every charset Qt has, labelled right, wrong, unknown or not at all, with and
    // without byte order marks, whole, cut or random.
    void charsetDecoding() {
        Generator gen(m_seed + 4);
        static const QList<QByteArray> kKnown{
            "UTF-8",    "utf-8",      "UTF-16",    "UTF-16LE",   "UTF-16BE", "UTF-32",
            "UTF-32LE", "UTF-32BE",   "GB18030",   "GBK",        "Big5",     "ISO-8859-1",
            "IBM037",   "IBM500",     "Shift_JIS", "EUC-KR",     "KOI8-R",   "windows-1252",
            "EUC-JP",   "ISO-8859-5", "gb2312",    "ISO-8859-15"};
        static const QList<QByteArray> kUnknown{"no-such", "utf-9", "x-nothing", "UTF-8;",
                                                "\"",      "é",     "utf 8"};
        int decoded = 0;
        for (int i = 0; i < kDecoded && !QTest::currentTestFailed(); ++i) {
            const QByteArray charset = kKnown.at(gen.below(kKnown.size()));
            QTextCodec* codec = QTextCodec::codecForName(charset);
            QVERIFY2(codec, charset.constData());
            const QString text = gen.object({{QStringLiteral("editingNoteId"), gen.id().json},
                                             {QStringLiteral("content"), gen.string(20).json}});
            // Unmarked "UTF-16" and "UTF-32" are big-endian; sometimes a mark says so.
            QTextCodec* encoder = charset == "UTF-16"   ? QTextCodec::codecForName("UTF-16BE")
                                  : charset == "UTF-32" ? QTextCodec::codecForName("UTF-32BE")
                                                        : codec;
            QTextCodec::ConverterState noMark(QTextCodec::IgnoreHeader);
            QByteArray body = encoder->fromUnicode(text.constData(), text.size(), &noMark);
            QTextCodec::ConverterState reading(QTextCodec::IgnoreHeader);
            const bool exactEncoding =
                noMark.invalidChars == 0 &&
                encoder->toUnicode(body.constData(), body.size(), &reading) == text;
            if (encoder->mibEnum() == 1013 && gen.chance(30))
                body.prepend("\xFE\xFF");
            else if (encoder->mibEnum() == 1014 && gen.chance(30))
                body.prepend("\xFF\xFE");
            else if (encoder->mibEnum() == 106 && gen.chance(30))
                body.prepend("\xEF\xBB\xBF");

            QByteArray label = charset;
            int labelKind = gen.below(10);
            if (labelKind == 0)
                label = kKnown.at(gen.below(kKnown.size())); // another, maybe wrong
            else if (labelKind == 1)
                label = kUnknown.at(gen.below(kUnknown.size()));
            else if (labelKind == 2)
                label = gen.bytes(8);
            const int mangling = gen.below(10);
            if (mangling == 0)
                body.truncate(gen.below(body.size() + 1));
            else if (mangling == 1 && !body.isEmpty())
                body[gen.below(body.size())] = char(gen.random().bounded(256));
            else if (mangling == 2)
                body = gen.bytes(64);
            const QByteArray contentType =
                gen.chance(10)
                    ? QByteArray("application/json")
                    : "application/json; charset=" + (gen.chance(20) ? '"' + label + '"' : label);

            transport::DecodeProblem problem = transport::DecodeProblem::None;
            const std::optional<QString> result =
                transport::decodeBody(body, contentType, &problem);
            const QByteArray named = transport::charsetParameter(contentType);
            QVERIFY(result.has_value() == (problem == transport::DecodeProblem::None));
            if (!named.isEmpty() && (named.contains('\0') || !QTextCodec::codecForName(named))) {
                QCOMPARE(problem, transport::DecodeProblem::UnknownCharset);
                continue; // never guessed as UTF-8
            }
            if (!result)
                continue;
            ++decoded;
            QVERIFY2(!protocol::hasLoneSurrogate(*result), charset.constData());
            // Labelled right, whole, in a charset that can hold the text: the very text.
            if (labelKind > 2 && mangling > 2 && contentType.contains("charset") && exactEncoding)
                QCOMPARE(*result, text);
            checkAll(*result);
        }
        qInfo("%d of %d bodies decoded", decoded, kDecoded);
        QVERIFY(decoded > kDecoded / 2);
    }
};

QTEST_GUILESS_MAIN(FuzzAnswersTest)
#include "tst_fuzz_answers.moc"
