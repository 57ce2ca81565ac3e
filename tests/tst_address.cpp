// Address validation: the dotted quad is searched for, not anchored, and only
// ASCII digits count. A pure text check: none of these addresses is contacted.

#include "app/AddressValidator.h"

#include <QTest>

class AddressTest : public QObject {
    Q_OBJECT

private slots:
    void isValidIP_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain address") << "192.168.1.10" << true;
        QTest::newRow("with a port") << "192.168.1.10:8080" << true;
        QTest::newRow("spaces around") << " 192.168.1.10 " << true;
        QTest::newRow("five numbers") << "1.2.3.4.5" << true;
        QTest::newRow("three numbers") << "192.168.1" << false;
        QTest::newRow("inner leading zero") << "192.168.01.1" << false;
        QTest::newRow("inner number above 255") << "1.300.3.4" << false;
        QTest::newRow("256 first: finds 56.1.1.1") << "256.1.1.1" << true;
        QTest::newRow("1000 last: finds 1.1.1.100") << "1.1.1.1000" << true;
        QTest::newRow("full-width digits") << QString::fromUtf8("１９２.１６８.１.１０") << false;
        QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("١.٢.٣.٤") << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("letters") << "phone" << false;
        QTest::newRow("255 and 0") << "255.0.0.255" << true;
        QTest::newRow("inside words") << "ip=127.0.0.1;" << true;
        QTest::newRow("typing on the way: 192.168.1.") << "192.168.1." << false;
        QTest::newRow("typing on the way: 192.168.1.1") << "192.168.1.1" << true;
    }

    void isValidIP() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(tavrin::AddressValidator::isValidIP(text), valid);
    }
};

QTEST_GUILESS_MAIN(AddressTest)
#include "tst_address.moc"
