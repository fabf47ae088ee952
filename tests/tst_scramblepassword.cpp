#include "settings/ScramblePassword.h"

#include <QTest>

class TestScramblePassword : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rotatesHalfTheSpan_data();
    void rotatesHalfTheSpan();
};

void TestScramblePassword::rotatesHalfTheSpan_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("scrambled");
    QTest::newRow("letters") << QStringLiteral("abc") << QStringLiteral(":;<");
    QTest::newRow("ends of the span") << QStringLiteral("0VW}") << QStringLiteral("W}0V");
    QTest::newRow("outside the span") << QString::fromUtf8(" !~/\xC3\xA9") << QString::fromUtf8(" !~/\xC3\xA9");
    QTest::newRow("a row key") << QStringLiteral("K01s3cret") << QStringLiteral("rWXLZ<K>M");
    QTest::newRow("empty") << QString() << QString();
}

void TestScramblePassword::rotatesHalfTheSpan()
{
    QFETCH(QString, plain);
    QFETCH(QString, scrambled);
    QCOMPARE(ScramblePassword(plain), scrambled);
    QCOMPARE(ScramblePassword(scrambled), plain);
}

QTEST_APPLESS_MAIN(TestScramblePassword)
#include "tst_scramblepassword.moc"
