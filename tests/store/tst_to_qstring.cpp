// ToQString's decoding rule and the ExtendedAsciiTranslator following the
// setting `extended_ascii_codepage` (on change through SetCodePage or the settings
// helpers, and on load through the store file).

#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Settings.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <memory>
#include <string>

Q_DECLARE_METATYPE(std::string)

namespace
{
std::string Bytes(char const* data, std::size_t size)
{
    return std::string(data, size);
}

// The setting's value bytes as the store holds them.
std::string StoredCodePage()
{
    ItemPtr const l_key = d.GetType("global")->HasItem(Value("extended_ascii_codepage"));
    return l_key ? l_key["global_value"].AsStdString() : std::string("<no key>");
}
} // namespace

class TestToQString : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void withoutTranslator_data();
    void withoutTranslator();
    void latin1ByDefault_data();
    void latin1ByDefault();
    void windows1251_data();
    void windows1251();
    void byteRangeOverload();
    void translateDirect();

    void globalPointer();
    void setCodePageWritesSetting();
    void setCodePageKeepsNameBytes();
    void noneReturnsToLatin1();
    void unknownCodePage();
    void followsSettingsHelper();
    void sameValueFiresNothing();
    void existingValueAtConstruction();
    void destroyedTranslatorStopsFollowing();
    void followsSettingOnLoad();

private:
    std::unique_ptr<DataSaver> m_saver;
    std::unique_ptr<ExtendedAsciiTranslator> m_translator;
};

void TestToQString::initTestCase()
{
    m_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
    QVERIFY(QTextCodec::codecForName("windows-1251") != nullptr);
}

void TestToQString::init()
{
    d.RemoveAllItems();
    m_translator = std::make_unique<ExtendedAsciiTranslator>();
}

void TestToQString::cleanup()
{
    m_translator.reset();
    d.RemoveAllItems();
}

// Inputs that never reach a code page, and those that do, with no translator at all.
void TestToQString::withoutTranslator_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << std::string() << QString();
    QTest::newRow("abc") << std::string("abc") << QString("abc");
    QTest::newRow("C3 A9 is U+00E9") << std::string("\xC3\xA9") << QString(QChar(0xE9));
    QTest::newRow("E9 alone is Latin-1") << std::string("\xE9") << QString(QChar(0xE9));
    QTest::newRow("ab 00 cd") << Bytes("ab\0cd", 5) << QString("ab");
}

void TestToQString::withoutTranslator()
{
    QFETCH(std::string, bytes);
    QFETCH(QString, expected);
    m_translator.reset();
    QCOMPARE(extendedAsciiTranslator, static_cast<ExtendedAsciiTranslator*>(nullptr));
    QCOMPARE(ToQString(bytes), expected);
}

void TestToQString::latin1ByDefault_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << std::string() << QString();
    QTest::newRow("abc") << std::string("abc") << QString("abc");
    QTest::newRow("UTF-8 two bytes") << std::string("\xC3\xA9") << QString(QChar(0xE9));
    QTest::newRow("UTF-8 mixed") << std::string("caf\xC3\xA9 \xE2\x82\xAC")
                                 << QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC");
    QTest::newRow("UTF-8 four bytes")
        << std::string("\xF0\x9F\x8E\xB5") << QString::fromUtf8("\xF0\x9F\x8E\xB5");
    QTest::newRow("invalid UTF-8 through Latin-1") << std::string("\xE9") << QString(QChar(0xE9));
    QTest::newRow("truncated sequence") << std::string("ab\xC3") << QString("ab") + QChar(0xC3);
    QTest::newRow("overlong slash")
        << std::string("\xC0\xAF") << QString(QChar(0xC0)) + QChar(0xAF);
    QTest::newRow("zero byte ends the text") << Bytes("ab\0cd", 5) << QString("ab");
    QTest::newRow("zero byte first") << Bytes("\0ab", 3) << QString();
    QTest::newRow("zero byte only") << Bytes("\0", 1) << QString();
    // A zero byte fails the whole-input round trip, so the rest is read as Latin-1.
    QTest::newRow("UTF-8 before a zero byte")
        << Bytes("\xC3\xA9\0x", 4) << QString(QChar(0xC3)) + QChar(0xA9);
    // Valid UTF-8 that starts with a byte-order mark is UTF-8, the mark kept.
    QTest::newRow("byte-order mark") << std::string("\xEF\xBB\xBF"
                                                    "a")
                                     << QString(QChar(0xFEFF)) + "a";
    QTest::newRow("byte-order mark only") << std::string("\xEF\xBB\xBF") << QString(QChar(0xFEFF));
    QTest::newRow("byte-order mark, then invalid")
        << std::string("\xEF\xBB\xBF\xE9")
        << QString(QChar(0xEF)) + QChar(0xBB) + QChar(0xBF) + QChar(0xE9);
    QTest::newRow("surrogate half") << std::string("\xED\xA0\x80")
                                    << QString(QChar(0xED)) + QChar(0xA0) + QChar(0x80);
}

void TestToQString::latin1ByDefault()
{
    QFETCH(std::string, bytes);
    QFETCH(QString, expected);
    QCOMPARE(m_translator->Codec(), static_cast<QTextCodec*>(nullptr));
    QCOMPARE(ToQString(bytes), expected);
}

void TestToQString::windows1251_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("abc") << std::string("abc") << QString("abc");
    QTest::newRow("UTF-8 wins") << std::string("\xC3\xA9") << QString(QChar(0xE9));
    QTest::newRow("E9 is U+0439") << std::string("\xE9") << QString(QChar(0x439));
    QTest::newRow("word") << std::string("\xCF\xF0\xE8\xE2\xE5\xF2")
                          << QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    QTest::newRow("zero byte") << Bytes("\xE9\0\xE9", 3) << QString(QChar(0x439));
    QTest::newRow("empty") << std::string() << QString();
}

void TestToQString::windows1251()
{
    QFETCH(std::string, bytes);
    QFETCH(QString, expected);
    m_translator->SetCodePage("windows-1251");
    QVERIFY(m_translator->Codec() != nullptr);
    QCOMPARE(ToQString(bytes), expected);
}

void TestToQString::byteRangeOverload()
{
    char const l_bytes[] = {'a', '\xE9', '\0', 'z'};
    QCOMPARE(ToQString(l_bytes, 2), QString("a") + QChar(0xE9));
    QCOMPARE(ToQString(l_bytes, 4), QString("a") + QChar(0xE9));
    QCOMPARE(ToQString(l_bytes, 0), QString());
    QCOMPARE(ToQString(nullptr, 0), QString());
}

void TestToQString::translateDirect()
{
    // Translate never tries UTF-8.
    QCOMPARE(m_translator->Translate(std::string("\xC3\xA9")), QString(QChar(0xC3)) + QChar(0xA9));
    QCOMPARE(m_translator->Translate(Bytes("x\0y", 3)), QString("x"));
    m_translator->SetCodePage("windows-1251");
    QCOMPARE(m_translator->Translate(std::string("\xC3\xA9")), QString(QChar(0x413)) + QChar(0xA9));
    QCOMPARE(m_translator->Translate(Bytes("\xE9\0\xE9", 3)), QString(QChar(0x439)));
}

void TestToQString::globalPointer()
{
    QCOMPARE(extendedAsciiTranslator, m_translator.get());
    // The constructor creates the setting's key item.
    QVERIFY(d.GetType("global")->HasItem(Value("extended_ascii_codepage")));
    m_translator.reset();
    QCOMPARE(extendedAsciiTranslator, static_cast<ExtendedAsciiTranslator*>(nullptr));
}

void TestToQString::setCodePageWritesSetting()
{
    m_translator->SetCodePage("windows-1251");
    QCOMPARE(StoredCodePage(), std::string("windows-1251"));
    QCOMPARE(GetSetting("extended_ascii_codepage"), QString("windows-1251"));
    m_translator->SetCodePage("KOI8-R");
    QCOMPARE(StoredCodePage(), std::string("KOI8-R"));
    // E9 is U+0418 in KOI8-R (U+0439 in windows-1251).
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x418)));
}

void TestToQString::setCodePageKeepsNameBytes()
{
    // The name is stored byte for byte, also when it is not UTF-8 (it is then unknown to
    // Qt and means Latin-1), and one value item serves every key holding that text.
    std::string const l_name("cp\xE9", 3);
    m_translator->SetCodePage(l_name);
    QCOMPARE(StoredCodePage(), l_name);
    QVERIFY(d.GetType("global_value")->HasItem(Value(l_name)).IsNotNull());
    QCOMPARE(m_translator->Codec(), static_cast<QTextCodec*>(nullptr));
    SetSetting("other_key", "windows-1251");
    m_translator->SetCodePage("windows-1251");
    QCOMPARE(d.GetType("global")->HasItem(Value("other_key"))["global_value"],
             d.GetType("global")->HasItem(Value("extended_ascii_codepage"))["global_value"]);
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x439)));
}

void TestToQString::noneReturnsToLatin1()
{
    m_translator->SetCodePage("windows-1251");
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x439)));
    // "[None]" in the options is the empty name: Latin-1 at once.
    m_translator->SetCodePage("");
    QCOMPARE(StoredCodePage(), std::string());
    QCOMPARE(m_translator->Codec(), static_cast<QTextCodec*>(nullptr));
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0xE9)));
}

void TestToQString::unknownCodePage()
{
    m_translator->SetCodePage("windows-1251");
    m_translator->SetCodePage("no-such-code-page");
    QCOMPARE(StoredCodePage(), std::string("no-such-code-page"));
    QCOMPARE(m_translator->Codec(), static_cast<QTextCodec*>(nullptr));
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0xE9)));
}

void TestToQString::followsSettingsHelper()
{
    SetSetting("extended_ascii_codepage", "windows-1251");
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x439)));
    SetSetting("extended_ascii_codepage", "");
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0xE9)));
}

void TestToQString::sameValueFiresNothing()
{
    m_translator->SetCodePage("windows-1251");
    // Count the path events by watching the pair the translator watches.
    int l_connections = 0;
    class Counter : public DataHandler
    {
    public:
        explicit Counter(int& count) : m_count(count) {}
        ~Counter() override { RemoveDataHandlers(); }
        void On(ItemPtr) { ++m_count; }
        int& m_count;
    };
    Counter l_counter(l_connections);
    PathNode* const lp_root = new PathNode(&d, "global");
    new PathNode(lp_root, "global_value", PathConnecting);
    d.AddPathEventHandler(lp_root, l_counter.CreateHandler(&l_counter, &Counter::On));

    m_translator->SetCodePage("windows-1251");
    QCOMPARE(l_connections, 0);
    m_translator->SetCodePage("KOI8-R");
    QCOMPARE(l_connections, 1);
}

void TestToQString::existingValueAtConstruction()
{
    m_translator.reset();
    SetSetting("extended_ascii_codepage", "windows-1251");
    m_translator = std::make_unique<ExtendedAsciiTranslator>();
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x439)));
}

void TestToQString::destroyedTranslatorStopsFollowing()
{
    m_translator.reset();
    // The registration of the destroyed translator must not be called (no crash under
    // the sanitizers), and decoding falls back to Latin-1.
    SetSetting("extended_ascii_codepage", "windows-1251");
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0xE9)));
    SetSetting("extended_ascii_codepage", "KOI8-R");
    m_translator = std::make_unique<ExtendedAsciiTranslator>();
    SetSetting("extended_ascii_codepage", "windows-1251");
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x439)));
}

void TestToQString::followsSettingOnLoad()
{
    QTemporaryDir l_dir;
    QVERIFY(l_dir.isValid());
    QString const l_path = l_dir.filePath(".Kestrune");

    m_translator->SetCodePage("windows-1251");
    QVERIFY(m_saver->Save(l_path));

    // A new run: empty store, translator created before the load (as the shell does).
    m_translator.reset();
    d.RemoveAllItems();
    m_translator = std::make_unique<ExtendedAsciiTranslator>();
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0xE9)));
    m_saver->Load(l_path);
    QCOMPARE(StoredCodePage(), std::string("windows-1251"));
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0x439)));

    // And a stored name Qt does not know behaves as none.
    m_translator->SetCodePage("no-such-code-page");
    QVERIFY(m_saver->Save(l_path));
    m_translator.reset();
    d.RemoveAllItems();
    m_translator = std::make_unique<ExtendedAsciiTranslator>();
    m_saver->Load(l_path);
    QCOMPARE(StoredCodePage(), std::string("no-such-code-page"));
    QCOMPARE(m_translator->Codec(), static_cast<QTextCodec*>(nullptr));
    QCOMPARE(ToQString(std::string("\xE9")), QString(QChar(0xE9)));
}

QTEST_GUILESS_MAIN(TestToQString)
#include "tst_to_qstring.moc"
