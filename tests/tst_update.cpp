// SPDX-License-Identifier: GPL-3.0-or-later
// The update check against an HTTPS server of the test's own on 127.0.0.50..52.

#include "support/HttpsTestServer.h"
#include "update/MakerSite.h"
#include "update/UpdateChecker.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using tavrin::UpdateChecker;
using tavrin::test::HttpsTestServer;
using tavrin::test::TestAnswer;
namespace maker = tavrin::maker;

namespace {

constexpr int kTimeoutMs = 10000;
const QString kCheckPath = QStringLiteral("/Morvane/v1/upgrade/checkUpdate");
const QString kTitle = QStringLiteral("检查更新");
const QString kNetworkFailure = QStringLiteral("网络异常，请检查网络是否畅通～");
const QByteArray kJson = "application/json;charset=utf-8";

// GBK bytes of "新版修复了若干问题" and "已是最新版本".
const QByteArray kGbkNote =
    "\xd0\xc2\xb0\xe6\xd0\xde\xb8\xb4\xc1\xcb\xc8\xf4\xb8\xc9\xce\xca\xcc\xe2";
const QByteArray kGbkMsg = "\xd2\xd1\xca\xc7\xd7\xee\xd0\xc2\xb0\xe6\xb1\xbe";

} // namespace

class UpdateTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void siteUrlsFollowTheHost();
    void answerHandling_data();
    void answerHandling();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void overlappingChecksKeepTheirOwnMode();
    void failuresWithinTheDeadline_data();
    void failuresWithinTheDeadline();

private:
    void addRows(const char* name, const QString& host, const TestAnswer& answer,
                 const QString& note, const QString& manualMessage);

    HttpsTestServer m_server{QStringLiteral("127.0.0.50")};
    // Its certificate is never trusted.
    HttpsTestServer m_untrusted{QStringLiteral("127.0.0.51")};
    // Nothing listens there.
    QString m_refusedHost;
};

void UpdateTest::initTestCase() {
    // The check as built by default, also in a build configured without it.
    maker::setContactedForTesting(true);
    qRegisterMetaType<QNetworkReply*>();
    QVERIFY(m_server.start());
    m_server.trustInDefaultConfiguration();
    QVERIFY(m_untrusted.start());

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.52"))));
    m_refusedHost = QStringLiteral("127.0.0.52:") + QString::number(probe.serverPort());
    probe.close();
}

void UpdateTest::init() {
    maker::setHostForTesting(m_server.hostAndPort());
    m_server.clearAnswers();
    m_server.clearRequests();
    m_untrusted.clearAnswers();
    m_untrusted.clearRequests();
}

void UpdateTest::siteUrlsFollowTheHost() {
    maker::setHostForTesting(QString());
    QCOMPARE(maker::host(), QStringLiteral(TAVRIN_WEB_HOST));

    maker::setHostForTesting(QStringLiteral("127.0.0.50:4433"));
    UpdateChecker checker;
    QCOMPARE(checker.downloadPage(), QStringLiteral("https://127.0.0.50:4433/Morvane/"));
    QCOMPARE(checker.logoUrl().toString(QUrl::FullyEncoded),
             QStringLiteral("https://127.0.0.50:4433/Morvane/image/logo_196.png"));
    QCOMPARE(maker::checkUpdateUrl(false, 7).toString(QUrl::FullyEncoded),
             QStringLiteral("https://127.0.0.50:4433/Morvane/v1/upgrade/checkUpdate"
                            "?appType=QuesslyPC&byHand=false&versionCode=7"));
}

void UpdateTest::addRows(const char* name, const QString& host, const TestAnswer& answer,
                         const QString& note, const QString& manualMessage) {
    // A note shows for both checks; messages only for the manual one.
    QTest::addRow("%s, manual", name) << host << true << answer.status << answer.contentType
                                      << answer.body << note << manualMessage;
    QTest::addRow("%s, automatic", name)
        << host << false << answer.status << answer.contentType << answer.body << note << QString();
}

void UpdateTest::answerHandling_data() {
    QTest::addColumn<QString>("host"); // empty: the trusted test server
    QTest::addColumn<bool>("byHand");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expectedNote");    // null: no newVersionFound
    QTest::addColumn<QString>("expectedMessage"); // null: no messageRequested

    const QString none;
    const QString note = QStringLiteral("新版修复了若干问题");
    const QString latest = QStringLiteral("已是最新版本");
    const QByteArray positive =
        R"({"code":1,"msg":"ok","data":{"upgradeNote":"新版修复了若干问题"}})";
    const auto answer = [](const QByteArray& body, int status = 200,
                           const QByteArray& contentType = kJson) {
        TestAnswer result;
        result.status = status;
        result.contentType = contentType;
        result.body = body;
        return result;
    };

    addRows("code 1 with a note", {}, answer(positive), note, none);
    addRows("code 1 among other keys", {},
            answer(R"({"extra":[1,2],"code":1,"data":{"size":3,"upgradeNote":"x y"}})"),
            QStringLiteral("x y"), none);
    addRows("code 0 with a msg", {}, answer(R"({"code":0,"msg":"已是最新版本"})"), none, latest);
    addRows("no code with a msg", {}, answer(R"({"msg":"已是最新版本"})"), none, latest);
    addRows("code 2", {},
            answer(R"({"code":2,"msg":"已是最新版本","data":{"upgradeNote":"不应显示"}})"), none,
            latest);
    addRows("code the string 1", {},
            answer(R"({"code":"1","msg":"已是最新版本","data":{"upgradeNote":"不应显示"}})"), none,
            latest);
    addRows("code true", {},
            answer(R"({"code":true,"msg":"已是最新版本","data":{"upgradeNote":"不应显示"}})"), none,
            latest);
    addRows("code 1.5", {},
            answer(R"({"code":1.5,"msg":"已是最新版本","data":{"upgradeNote":"不应显示"}})"), none,
            latest);

    addRows("status 404", {}, answer(positive, 404), none, kNetworkFailure);
    addRows("status 500", {}, answer(positive, 500), none, kNetworkFailure);
    addRows("status 201", {}, answer(positive, 201), none, kNetworkFailure);
    // No redirect is followed: a 3xx answer is a failure like any other.
    addRows("status 302", {}, answer(positive, 302), none, kNetworkFailure);
    addRows("status 308", {}, answer(positive, 308), none, kNetworkFailure);
    addRows("connection refused", m_refusedHost, answer(positive), none, kNetworkFailure);
    addRows("untrusted certificate", m_untrusted.hostAndPort(), answer(positive), none,
            kNetworkFailure);

    addRows("body not JSON", {}, answer("<html>busy</html>", 200, "text/html"), none, none);
    addRows("body a JSON array", {}, answer(R"([{"code":1}])"), none, none);
    addRows("empty body", {}, answer(""), none, none);
    addRows("code 1 without data", {}, answer(R"({"code":1,"msg":"已是最新版本"})"), none, none);
    addRows("code 1 without upgradeNote", {}, answer(R"({"code":1,"msg":"m","data":{}})"), none,
            none);
    addRows("code 1 with an empty note", {},
            answer(R"({"code":1,"msg":"m","data":{"upgradeNote":""}})"), none, none);
    addRows("code 1 with a number as note", {},
            answer(R"({"code":1,"msg":"m","data":{"upgradeNote":3}})"), none, none);
    addRows("code 0 without msg", {}, answer(R"({"code":0})"), none, none);
    addRows("code 0 with an empty msg", {}, answer(R"({"code":0,"msg":""})"), none, none);
    addRows("code 0 with a number as msg", {}, answer(R"({"code":0,"msg":5})"), none, none);

    addRows("note in GBK", {},
            answer(R"({"code":1,"data":{"upgradeNote":")" + kGbkNote + R"("}})", 200,
                   "application/json; charset=gbk"),
            note, none);
    addRows("msg in GBK", {},
            answer(R"({"code":0,"msg":")" + kGbkMsg + R"("})", 200, "application/json;charset=GBK"),
            none, latest);
    addRows("no charset means UTF-8", {}, answer(positive, 200, "application/json"), note, none);
}

void UpdateTest::answerHandling() {
    QFETCH(QString, host);
    QFETCH(bool, byHand);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, expectedNote);
    QFETCH(QString, expectedMessage);

    TestAnswer answer;
    answer.status = status;
    answer.contentType = contentType;
    answer.body = body;
    m_server.setAnswer(kCheckPath, answer);
    m_untrusted.setAnswer(kCheckPath, answer);
    if (!host.isEmpty())
        maker::setHostForTesting(host);

    UpdateChecker checker;
    auto* network = checker.findChild<QNetworkAccessManager*>();
    QVERIFY(network);
    QSignalSpy finished(network, &QNetworkAccessManager::finished);
    QSignalSpy notes(&checker, &UpdateChecker::newVersionFound);
    QSignalSpy messages(&checker, &UpdateChecker::messageRequested);

    checker.checkUpdate(byHand);
    // The answer is handled once the request has completed, never inside the call.
    QCOMPARE(finished.count(), 0);

    // Woken by the signal itself rather than by polling: the table is long.
    QVERIFY(finished.wait(kTimeoutMs));
    QCOMPARE(finished.count(), 1);
    // The reply's own completion handler has run by now: it is connected to the same signal.
    QCOMPARE(m_server.requestCount(), host.isEmpty() ? 1 : 0);
    // A refused TLS handshake never gets as far as an HTTP request.
    QCOMPARE(m_untrusted.requestCount(), 0);

    if (expectedNote.isNull()) {
        QCOMPARE(notes.count(), 0);
    } else {
        QCOMPARE(notes.count(), 1);
        QCOMPARE(notes.at(0).at(0).toString(), expectedNote);
    }
    if (expectedMessage.isNull()) {
        QCOMPARE(messages.count(), 0);
    } else {
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.at(0).at(0).toString(), kTitle);
        QCOMPARE(messages.at(0).at(1).toString(), expectedMessage);
    }

    QVERIFY(QTest::qWaitFor([network] { return network->findChildren<QNetworkReply*>().isEmpty(); },
                            kTimeoutMs));
}

void UpdateTest::requestOnTheWire_data() {
    QTest::addColumn<bool>("byHand");
    QTest::addColumn<QString>("query");

    QTest::newRow("manual") << true
                            << QStringLiteral("appType=QuesslyPC&byHand=true&versionCode=7");
    QTest::newRow("automatic") << false
                               << QStringLiteral("appType=QuesslyPC&byHand=false&versionCode=7");
}

void UpdateTest::requestOnTheWire() {
    QFETCH(bool, byHand);
    QFETCH(QString, query);

    m_server.setJsonAnswer(kCheckPath, R"({"code":0})");
    UpdateChecker checker;
    checker.checkUpdate(byHand);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), 1, kTimeoutMs);

    const auto request = m_server.requests().constFirst();
    QCOMPARE(request.method, QStringLiteral("GET"));
    QCOMPARE(request.path, kCheckPath);
    QCOMPARE(request.query, query);
    QVERIFY(request.body.isEmpty());

    QList<QPair<QByteArray, QByteArray>> contentTypes;
    for (const auto& header : request.headers) {
        if (header.first.compare("content-type", Qt::CaseInsensitive) == 0)
            contentTypes.append(header);
    }
    QCOMPARE(contentTypes.size(), 1);
    QCOMPARE(contentTypes.at(0).first, QByteArray("Content-type"));
    QCOMPARE(contentTypes.at(0).second, QByteArray("application/x-www-form-urlencoded"));
}

void UpdateTest::overlappingChecksKeepTheirOwnMode() {
    // Held back, so that all three requests are outstanding at once.
    TestAnswer answer;
    answer.body = R"({"code":0,"msg":"已是最新版本"})";
    answer.delayMs = 300;
    m_server.setAnswer(kCheckPath, answer);

    UpdateChecker checker;
    auto* network = checker.findChild<QNetworkAccessManager*>();
    QVERIFY(network);
    QSignalSpy finished(network, &QNetworkAccessManager::finished);
    QSignalSpy messages(&checker, &UpdateChecker::messageRequested);

    checker.checkUpdate(true);
    checker.checkUpdate(false);
    checker.checkUpdate(true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, kTimeoutMs);
    QCOMPARE(messages.count(), 2);

    QStringList queries;
    for (const auto& request : m_server.requests())
        queries << request.query;
    queries.sort();
    QCOMPARE(queries, QStringList({QStringLiteral("appType=QuesslyPC&byHand=false&versionCode=7"),
                                   QStringLiteral("appType=QuesslyPC&byHand=true&versionCode=7"),
                                   QStringLiteral("appType=QuesslyPC&byHand=true&versionCode=7")}));
}

void UpdateTest::failuresWithinTheDeadline_data() {
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("byHand");
    QTest::addColumn<QString>("expectedNote");
    QTest::addColumn<QString>("expectedMessage");

    const QString none;
    const QByteArray within = R"({"code":0,"msg":")" + QByteArray(60 * 1024, 'm') + R"("})";
    const QByteArray beyond = R"({"code":0,"msg":")" + QByteArray(65 * 1024, 'm') + R"("})";
    const QByteArray beyondNote =
        R"({"code":1,"data":{"upgradeNote":")" + QByteArray(65 * 1024, 'n') + R"("}})";
    QTest::newRow("silent server, manual") << true << 0 << QByteArray() << true << none
                                           << kNetworkFailure;
    QTest::newRow("silent server, automatic") << true << 0 << QByteArray() << false << none << none;
    QTest::newRow("slower than the deadline, manual")
        << false << 600 << QByteArray(R"({"code":0,"msg":"late"})") << true << none
        << kNetworkFailure;
    QTest::newRow("larger than 64 KiB, manual") << false << 0 << beyond << true << none
                                                << kNetworkFailure;
    QTest::newRow("larger than 64 KiB, automatic, a note")
        << false << 0 << beyondNote << false << none << none;
    QTest::newRow("60 KiB is taken") << false << 0 << within << true << none
                                     << QString(60 * 1024, QLatin1Char('m'));
}

void UpdateTest::failuresWithinTheDeadline() {
    QFETCH(bool, silent);
    QFETCH(int, delayMs);
    QFETCH(QByteArray, body);
    QFETCH(bool, byHand);
    QFETCH(QString, expectedNote);
    QFETCH(QString, expectedMessage);
    constexpr int kDeadlineMs = 300;

    TestAnswer answer;
    answer.body = body;
    answer.silent = silent;
    answer.delayMs = delayMs;
    m_server.setAnswer(kCheckPath, answer);

    UpdateChecker checker;
    QCOMPARE(checker.timeoutMs(), 10000); // the program's own, shortened here
    checker.setTimeoutMs(kDeadlineMs);
    auto* network = checker.findChild<QNetworkAccessManager*>();
    QVERIFY(network);
    QSignalSpy finished(network, &QNetworkAccessManager::finished);
    QSignalSpy notes(&checker, &UpdateChecker::newVersionFound);
    QSignalSpy messages(&checker, &UpdateChecker::messageRequested);
    QElapsedTimer clock;
    clock.start();
    checker.checkUpdate(byHand);
    QVERIFY(finished.wait(kTimeoutMs));
    const qint64 elapsed = clock.elapsed();

    if (silent || delayMs > 0) {
        QVERIFY2(elapsed >= kDeadlineMs * 9 / 10 && elapsed < kDeadlineMs + 1000,
                 qPrintable(QString::number(elapsed)));
    }
    QCOMPARE(notes.count(), expectedNote.isNull() ? 0 : 1);
    if (expectedMessage.isNull()) {
        QCOMPARE(messages.count(), 0);
    } else {
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages.at(0).at(0).toString(), kTitle);
        QCOMPARE(messages.at(0).at(1).toString(), expectedMessage);
    }
    m_server.releaseSilent();
}

QTEST_GUILESS_MAIN(UpdateTest)
#include "tst_update.moc"
