// SPDX-License-Identifier: GPL-3.0-or-later
// Address validation: the whole text must be four numbers from 0 to 255 in
// ASCII digits, joined by dots, and nothing else. A pure text check: none of
// these addresses is contacted.

#include "app/AddressValidator.h"

#include <QTest>

class AddressTest : public QObject {
    Q_OBJECT

private slots:
    void isValidIP_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain address") << "192.168.1.10" << true;
        QTest::newRow("loopback") << "127.0.0.1" << true;
        QTest::newRow("all zeros") << "0.0.0.0" << true;
        QTest::newRow("all 255") << "255.255.255.255" << true;
        QTest::newRow("255 and 0") << "255.0.0.255" << true;
        QTest::newRow("each width") << "1.22.199.249" << true;
        QTest::newRow("typing on the way: 192.168.1.1") << "192.168.1.1" << true;

        QTest::newRow("with a port") << "192.168.1.10:8080" << false;
        QTest::newRow("port and path") << "127.0.0.76:8081/#" << false;
        QTest::newRow("path") << "127.0.0.1/desktop" << false;
        QTest::newRow("spaces around") << " 192.168.1.10 " << false;
        QTest::newRow("space before") << " 127.0.0.1" << false;
        QTest::newRow("line break after") << "127.0.0.1\n" << false;
        QTest::newRow("inner space") << "127.0. 0.1" << false;
        QTest::newRow("five numbers") << "1.2.3.4.5" << false;
        QTest::newRow("trailing dot") << "1.2.3.4." << false;
        QTest::newRow("leading dot") << ".1.2.3.4" << false;
        QTest::newRow("empty number") << "1..2.3" << false;
        QTest::newRow("three numbers") << "192.168.1" << false;
        QTest::newRow("typing on the way: 192.168.1.") << "192.168.1." << false;
        QTest::newRow("inner leading zero") << "192.168.01.1" << false;
        QTest::newRow("leading zero first") << "01.2.3.4" << false;
        QTest::newRow("double zero") << "00.0.0.0" << false;
        QTest::newRow("inner number above 255") << "1.300.3.4" << false;
        QTest::newRow("256 first") << "256.1.1.1" << false;
        QTest::newRow("999 first") << "999.1.1.1" << false;
        QTest::newRow("1000 last") << "1.1.1.1000" << false;
        QTest::newRow("sign") << "+1.2.3.4" << false;
        QTest::newRow("hex") << "0x7f.0.0.1" << false;
        QTest::newRow("one number") << "2130706433" << false;
        QTest::newRow("address and 100 KB of zeros")
            << QStringLiteral("127.0.0.77") + QString(100 * 1024, QLatin1Char('0')) << false;
        QTest::newRow("full-width digits") << QString::fromUtf8("１９２.１６８.１.１０") << false;
        QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("١.٢.٣.٤") << false;
        QTest::newRow("full-width dots") << QString::fromUtf8("127。0。0。1") << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("letters") << "phone" << false;
        QTest::newRow("inside words") << "ip=127.0.0.1;" << false;
        QTest::newRow("NUL after") << QStringLiteral("127.0.0.1") + QChar(0) << false;
    }

    void isValidIP() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(tavrin::AddressValidator::isValidIP(text), valid);
    }

    // Every dotted quad of numbers 0 to 255 written without leading zeros is valid,
    // and the same with a leading zero on any one number is not.
    void everyNumberOfEachPosition() {
        for (int position = 0; position < 4; ++position) {
            for (int n = 0; n <= 255; ++n) {
                QStringList parts{QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0"),
                                  QStringLiteral("1")};
                parts[position] = QString::number(n);
                QVERIFY2(tavrin::AddressValidator::isValidIP(parts.join(QLatin1Char('.'))),
                         qPrintable(parts.join(QLatin1Char('.'))));
                parts[position] = QLatin1Char('0') + QString::number(n);
                QVERIFY2(!tavrin::AddressValidator::isValidIP(parts.join(QLatin1Char('.'))),
                         qPrintable(parts.join(QLatin1Char('.'))));
            }
            QStringList parts{QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("0"),
                              QStringLiteral("1")};
            parts[position] = QStringLiteral("256");
            QVERIFY(!tavrin::AddressValidator::isValidIP(parts.join(QLatin1Char('.'))));
        }
    }
};

QTEST_GUILESS_MAIN(AddressTest)
#include "tst_address.moc"
