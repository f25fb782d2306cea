#include <QTest>

#include "ui/sjis_text.h"

using tarn::ui::fromSjis;
using tarn::ui::toSjis;
using tarn::ui::unrepresentableCharacters;

class SjisTextTest : public QObject {
    Q_OBJECT
private slots:
    void roundTripsExtensionCharactersAndHalfWidthKana() {
        const QString text = QStringLiteral("髙橋 ①㈱ ｶﾞｷﾞ ～∥－");
        auto sjis = toSjis(text);
        QVERIFY(sjis.ok());
        QCOMPARE(fromSjis(*sjis), text);
    }
    void namesTheCharacterItCannotHold() {
        auto sjis = toSjis(QStringLiteral("寿司🍣です"));
        QVERIFY(!sjis.ok());
        QVERIFY(QString::fromStdString(sjis.error().message).contains(QStringLiteral("🍣")));
        QCOMPARE(unrepresentableCharacters(QStringLiteral("a🍣b🍣c€")), QStringLiteral("🍣€"));
        QCOMPARE(unrepresentableCharacters(QStringLiteral("すべて正常")), QString());
    }
    void brokenBytesShowAsReplacementCharacters() {
        QCOMPARE(fromSjis(std::string_view("\x82\xa0" "a\x82", 4)), QStringLiteral("あa\uFFFD"));
    }
};

QTEST_GUILESS_MAIN(SjisTextTest)
#include "sjis_text_test.moc"
