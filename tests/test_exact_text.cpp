// A cell's bytes as Qt text and back: every byte string comes back as it
// was, valid UTF-8 reads as the text it is, and an edit of the text changes
// only the bytes it touches.

#include "oracle/ExactText.h"

#include <QRandomGenerator>
#include <QTest>

class TestExactText : public QObject {
    Q_OBJECT

private slots:
    void everyByteStringComesBack()
    {
        const std::vector<std::string> cases = {
            "",
            "plain",
            std::string("\x41\xFF\x42\xC3\x20\x61\x62\x63", 8), // a stray byte and a cut sequence
            "\xEF\xBB\xBFwith a BOM",
            "\xED\xA0\x80",          // an encoded surrogate is no UTF-8
            "\xC0\xAF",              // an overlong slash
            "\xF4\x90\x80\x80",      // past U+10FFFF
            "\xF0\x9F\x98\x80 \xE2\x82\xAC", // four- and three-byte characters
            std::string("nul\0inside", 10),
        };
        for (const std::string& bytes : cases)
            QCOMPARE(QByteArray::fromStdString(BytesFromText(TextFromBytes(bytes))).toHex(),
                     QByteArray::fromStdString(bytes).toHex());
        QRandomGenerator random(7);
        for (int i = 0; i < 2000; ++i) {
            std::string bytes(static_cast<std::size_t>(random.bounded(40)), '\0');
            for (char& b : bytes)
                b = static_cast<char>(random.bounded(256));
            QCOMPARE(BytesFromText(TextFromBytes(bytes)), bytes);
        }
    }

    void validTextIsTheTextItIs()
    {
        const std::string euro = "\xE2\x82\xAC 5";
        QVERIFY(IsValidUtf8(euro));
        QCOMPARE(TextFromBytes(euro), QStringLiteral("\u20AC 5"));
        QCOMPARE(BytesFromText(QStringLiteral("\u20AC 5")), euro);
        QVERIFY(!IsValidUtf8("\xFF"));
        QVERIFY(!IsValidUtf8("\xED\xA0\x80"));
        QVERIFY(!IsValidUtf8("abcdefgh\xE2\x82"));
        QVERIFY(IsValidUtf8("abcdefghijklmnop\xF0\x9F\x98\x80"));
    }

    // Replacing a word in a value that holds stray bytes keeps the strays.
    void anEditChangesOnlyWhatItTouches()
    {
        const std::string bytes("\x41\xFF\x42\xC3\x20\x61\x62\x63", 8);
        QString text = TextFromBytes(bytes);
        QCOMPARE(text.size(), 8);
        text.replace(QStringLiteral("abc"), QStringLiteral("xyz"));
        QCOMPARE(BytesFromText(text), std::string("\x41\xFF\x42\xC3\x20\x78\x79\x7A", 8));
        // A character typed after a stray byte joins nothing with it.
        QCOMPARE(BytesFromText(TextFromBytes("\xC3") + QStringLiteral("\u00A9")), std::string("\xC3\xC2\xA9"));
        // A real pair of surrogates stays one character.
        QCOMPARE(BytesFromText(QStringLiteral("\U0001F600")), std::string("\xF0\x9F\x98\x80"));
    }
};

QTEST_APPLESS_MAIN(TestExactText)
#include "test_exact_text.moc"
