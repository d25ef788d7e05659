// The JSON text reader and writer: failures and their positions, number kinds and printing,
// escapes, the formatted layout, nesting and threads.
#include <QtTest>

#include <charconv>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "json/json_text.h"

namespace {

struct NodeDeleter {
    void operator()(JsonNode* n) const { JsonFree(n); }
};
using Tree = std::unique_ptr<JsonNode, NodeDeleter>;

Tree Read(const QByteArray& text) {
    return Tree(JsonRead(text.constData()).root);
}

QByteArray Compact(const JsonNode* n) {
    return QByteArray::fromStdString(JsonWrite(n, JsonLayout::kCompact));
}
QByteArray Formatted(const JsonNode* n) {
    return QByteArray::fromStdString(JsonWrite(n, JsonLayout::kFormatted));
}

quint64 Bits(double d) {
    quint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

QByteArray PrintfFixed(double d) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%f", d);
    return QByteArray(buf);
}

QByteArray Nested(int depth, const char* open, const char* close) {
    QByteArray s;
    for (int i = 0; i < depth; ++i)
        s += open;
    s += "1";
    for (int i = 0; i < depth; ++i)
        s += close;
    return s;
}

}  // namespace

class TestJsonText : public QObject {
    Q_OBJECT

private slots:
    void readFailures_data();
    void readFailures();
    void readLenient_data();
    void readLenient();
    void numbers_data();
    void numbers();
    void decimalsMatchTheLibrary();
    void fixedMatchesPrintf_data();
    void fixedMatchesPrintf();
    void fixedMatchesPrintfAtRandom();
    void integerPrinting_data();
    void integerPrinting();
    void readEscapes_data();
    void readEscapes();
    void writeEscapes_data();
    void writeEscapes();
    void layout_data();
    void layout();
    void roundTrip_data();
    void roundTrip();
    void nestingLimit();
    void deepTreeWritesAndFrees();
    void writeOnlyTheNodeNotItsSiblings();
    void changedReadTreesFreeEverything_data();
    void changedReadTreesFreeEverything();
    void concurrentReadsKeepTheirOwnPositions();
};

void TestJsonText::readFailures_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("offset");
    QTest::newRow("trailing comma in array") << QByteArray("[1,2,]") << 5;
    QTest::newRow("missing comma") << QByteArray("[1 2]") << 3;
    QTest::newRow("unclosed array") << QByteArray("[") << 1;
    QTest::newRow("unclosed array after value") << QByteArray("[1,2") << 4;
    QTest::newRow("missing colon") << QByteArray("{\"a\" 1}") << 5;
    QTest::newRow("unquoted key") << QByteArray("{a:1}") << 1;
    QTest::newRow("trailing comma in object") << QByteArray("{\"a\":1,}") << 7;
    QTest::newRow("missing value") << QByteArray("{\"a\":}") << 5;
    QTest::newRow("missing member comma") << QByteArray("{\"a\":1 \"b\":2}") << 7;
    QTest::newRow("comma first") << QByteArray("{,}") << 1;
    QTest::newRow("key then end") << QByteArray("{\"a\"") << 4;
    QTest::newRow("object value then end") << QByteArray("{\"a\":1") << 6;
    QTest::newRow("colon in array") << QByteArray("[\"x\":1]") << 4;
    QTest::newRow("empty text") << QByteArray("") << 0;
    QTest::newRow("only whitespace") << QByteArray(" \t\r\n") << 4;
    QTest::newRow("short null") << QByteArray("nul") << 0;
    QTest::newRow("short false") << QByteArray("fals") << 0;
    QTest::newRow("short true") << QByteArray("tru") << 0;
    QTest::newRow("capital True") << QByteArray("True") << 0;
    QTest::newRow("plus sign") << QByteArray("+1") << 0;
    QTest::newRow("leading point") << QByteArray(".5") << 0;
    QTest::newRow("bare word after whitespace") << QByteArray("  x") << 2;
    QTest::newRow("unterminated string") << QByteArray("\"abc") << 4;
    QTest::newRow("unterminated after escape") << QByteArray("\"a\\n") << 4;
    QTest::newRow("backslash at end") << QByteArray("\"a\\") << 3;
    QTest::newRow("short \\u before quote") << QByteArray("\"a\\u12\"") << 2;
    QTest::newRow("bad hex digit") << QByteArray("\"\\u00g0\"") << 1;
    QTest::newRow("\\u runs into the end") << QByteArray("\"\\u12") << 1;
    QTest::newRow("\\u at the end") << QByteArray("\"\\u") << 1;
    QTest::newRow("short second \\u of a pair") << QByteArray("\"\\ud83d\\u12\"") << 7;
    QTest::newRow("bad \\u in a key") << QByteArray("{\"\\uzzzz\":1}") << 2;
    QTest::newRow("second zero of 007") << QByteArray("[007]") << 2;
    QTest::newRow("point without digit") << QByteArray("[1.]") << 2;
    QTest::newRow("NUL ends the text") << QByteArray("[1,\0 2]", 7) << 3;
    QTest::newRow("NUL inside a string") << QByteArray("\"a\0b\"", 5) << 2;
    QTest::newRow("513 arrays") << Nested(513, "[", "]") << 512;
    QTest::newRow("513 objects") << Nested(513, "{\"a\":", "}") << 512 * 5;
    QTest::newRow("513 mixed") << Nested(257, "[{\"k\":", "}]") << 256 * 6;
}

void TestJsonText::readFailures() {
    QFETCH(QByteArray, text);
    QFETCH(int, offset);
    JsonReadResult r = JsonRead(text.constData());
    QVERIFY(r.root == nullptr);
    QCOMPARE(r.error_offset, static_cast<std::size_t>(offset));
}

void TestJsonText::readLenient_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("compact");
    QTest::newRow("text after the value") << QByteArray("{} trailing text") << QByteArray("{}");
    QTest::newRow("null prefix") << QByteArray("nullx") << QByteArray("null");
    QTest::newRow("true prefix") << QByteArray("truex") << QByteArray("true");
    QTest::newRow("false prefix") << QByteArray("falsey") << QByteArray("false");
    QTest::newRow("control bytes are whitespace")
        << QByteArray("\x01\x1f [\x02 1\x7f") << QByteArray();
    QTest::newRow("exponent without digits") << QByteArray("[1e]") << QByteArray("[1]");
    QTest::newRow("exponent sign without digits") << QByteArray("[1e+,2]") << QByteArray("[1,2]");
    QTest::newRow("minus alone") << QByteArray("[-]") << QByteArray("[0]");
    QTest::newRow("duplicate keys kept")
        << QByteArray("{\"a\":1,\"a\":2}") << QByteArray("{\"a\":1,\"a\":2}");
    QTest::newRow("whitespace everywhere")
        << QByteArray(" [ 1 , { \"b\" : [ ] } ] ") << QByteArray("[1,{\"b\":[]}]");
    QTest::newRow("escaped slash") << QByteArray("\"\\/\"") << QByteArray("\"/\"");
    QTest::newRow("empty key") << QByteArray("{\"\":1}") << QByteArray("{\"\":1}");
    QTest::newRow("u0000 writes nothing") << QByteArray("[\"\\u0000\"]") << QByteArray("[\"\"]");
    QTest::newRow("512 arrays") << Nested(512, "[", "]") << Nested(512, "[", "]");
}

void TestJsonText::readLenient() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, compact);
    Tree t = Read(text);
    if (compact.isEmpty()) {
        // 0x7f is not whitespace: the array fails there.
        QVERIFY(!t);
        QCOMPARE(JsonRead(text.constData()).error_offset,
                 static_cast<std::size_t>(text.size() - 1));
        return;
    }
    QVERIFY(t);
    QCOMPARE(Compact(t.get()), compact);
}

void TestJsonText::numbers_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("sign");
    QTest::addColumn<qint64>("intValue");
    QTest::addColumn<double>("doubleValue");
    QTest::addColumn<QByteArray>("written");
    const qint64 kMax = std::numeric_limits<qint64>::max();
    const qint64 kMin = std::numeric_limits<qint64>::min();
    const double kInf = std::numeric_limits<double>::infinity();
    auto row = [](const char* name, const char* text, int kind, int sign, qint64 iv, double dv,
                  const QByteArray& written) {
        QTest::newRow(name) << QByteArray(text) << kind << sign << iv << dv << written;
    };
    row("zero", "0", kJsonInt, 1, 0, 0.0, "0");
    row("minus zero", "-0", kJsonInt, -1, 0, -0.0, "0");
    row("007 reads the first zero", "007", kJsonInt, 1, 0, 0.0, "0");
    row("twelve", "12", kJsonInt, 1, 12, 12.0, "12");
    row("minus five", "-5", kJsonInt, -1, -5, -5.0, "-5");
    row("1e0 is Int", "1e0", kJsonInt, 1, 1, 1.0, "1");
    row("1E+0 is Int", "1E+0", kJsonInt, 1, 1, 1.0, "1");
    row("25e-00 is Int", "25e-00", kJsonInt, 1, 25, 25.0, "25");
    row("1e without digits", "1e", kJsonInt, 1, 1, 1.0, "1");
    row("1. stops before the point", "1.", kJsonInt, 1, 1, 1.0, "1");
    row("minus alone", "-", kJsonInt, -1, 0, -0.0, "0");
    row("1.0 is Double", "1.0", kJsonDouble, 1, 1, 1.0, "1.000000");
    row("1e2 is Double", "1e2", kJsonDouble, 1, 100, 100.0, "100.000000");
    row("0.5", "0.5", kJsonDouble, 1, 0, 0.5, "0.500000");
    row("-0.5", "-0.5", kJsonDouble, -1, 0, -0.5, "-0.500000");
    row("-.5", "-.5", kJsonDouble, -1, 0, -0.5, "-0.500000");
    row("-0.0", "-0.0", kJsonDouble, -1, 0, -0.0, "-0.000000");
    row("2.9 truncates", "2.9", kJsonDouble, 1, 2, 2.9, "2.900000");
    row("-2.9 truncates", "-2.9", kJsonDouble, -1, -2, -2.9, "-2.900000");
    row("1.5e", "1.5e", kJsonDouble, 1, 1, 1.5, "1.500000");
    row("0.1", "0.1", kJsonDouble, 1, 0, 0.1, "0.100000");
    row("1e10", "1e10", kJsonDouble, 1, 10000000000LL, 1e10, "10000000000.000000");
    row("1e-7", "1e-7", kJsonDouble, 1, 0, 1e-7, "0.000000");
    row("-1e-7", "-1e-7", kJsonDouble, -1, 0, -1e-7, "-0.000000");
    row("0.0000015 rounds up", "0.0000015", kJsonDouble, 1, 0, 0.0000015, "0.000002");
    row("1e22 fast path edge", "1e22", kJsonDouble, 1, kMax, 1e22, PrintfFixed(1e22));
    row("1e23 slow path", "1e23", kJsonDouble, 1, kMax, 1e23, PrintfFixed(1e23));
    row("18 digits slow path", "123456789012345678e-5", kJsonDouble, 1, 1234567890123LL,
        123456789012345678e-5, PrintfFixed(123456789012345678e-5));
    row("17 significant digits", "-65.613616999999977", kJsonDouble, -1, -65, -65.613616999999977,
        "-65.613617");
    row("smallest normal", "2.2250738585072011e-308", kJsonDouble, 1, 0, 2.2250738585072011e-308,
        "0.000000");
    row("largest double", "1.7976931348623157e308", kJsonDouble, 1, kMax, DBL_MAX,
        PrintfFixed(DBL_MAX));
    row("overflow is infinite, writes null", "1e400", kJsonDouble, 1, kMax, kInf, "null");
    row("negative overflow", "-1e400", kJsonDouble, -1, kMin, -kInf, "null");
    row("long mantissa overflow", "1000000000000000000000e300", kJsonDouble, 1, kMax, kInf, "null");
    row("underflow is zero", "1e-400", kJsonDouble, 1, 0, 0.0, "0.000000");
    row("zero times huge power is zero", "0e400", kJsonDouble, 1, 0, 0.0, "0.000000");
    row("2^31-1", "2147483647", kJsonInt, 1, 2147483647LL, 2147483647.0, "2147483647");
    row("-2^31", "-2147483648", kJsonInt, -1, -2147483648LL, -2147483648.0, "-2147483648");
    row("-2^31-1", "-2147483649", kJsonInt, -1, -2147483649LL, -2147483649.0, "-2147483649");
    row("2^32-1 unsigned", "4294967295", kJsonInt, 1, 4294967295LL, 4294967295.0, "4294967295");
    row("2^32", "4294967296", kJsonInt, 1, 4294967296LL, 4294967296.0, "4294967296");
    row("2^53+1 exact", "9007199254740993", kJsonInt, 1, 9007199254740993LL, 9007199254740992.0,
        "9007199254740993");
    row("2^63-1", "9223372036854775807", kJsonInt, 1, kMax, 9223372036854775807.0,
        "9223372036854775807");
    row("-(2^63-1)", "-9223372036854775807", kJsonInt, -1, -kMax, -9223372036854775807.0,
        "-9223372036854775807");
    row("-2^63", "-9223372036854775808", kJsonInt, -1, kMin, -9223372036854775808.0,
        "-9223372036854775808");
    row("2^63 keeps its unsigned value", "9223372036854775808", kJsonInt, 1, kMin,
        9223372036854775808.0, "9223372036854775808");
    row("2^64-1 keeps its unsigned value", "18446744073709551615", kJsonInt, 1, -1,
        18446744073709551615.0, "18446744073709551615");
    row("2^64 saturates", "18446744073709551616", kJsonInt, 1, -1, 18446744073709551616.0,
        "18446744073709551615");
    row("below -2^63 saturates", "-9223372036854775809", kJsonInt, -1, kMin, -9223372036854775809.0,
        "-9223372036854775808");
    row("30 digits", "123456789012345678901234567890", kJsonInt, 1, -1,
        123456789012345678901234567890.0, "18446744073709551615");
}

void TestJsonText::numbers() {
    QFETCH(QByteArray, text);
    QFETCH(int, kind);
    QFETCH(int, sign);
    QFETCH(qint64, intValue);
    QFETCH(double, doubleValue);
    QFETCH(QByteArray, written);
    Tree t = Read(text);
    QVERIFY(t);
    QCOMPARE(t->kind, kind);
    QCOMPARE(t->sign, sign);
    QCOMPARE(static_cast<qint64>(t->int_value), intValue);
    // Bitwise, so that -0.0 and the last bit of rounding count.
    QCOMPARE(Bits(t->double_value), Bits(doubleValue));
    QCOMPARE(Compact(t.get()), written);
    QCOMPARE(Formatted(t.get()), written);
}

void TestJsonText::decimalsMatchTheLibrary() {
    // Every Double is the correctly rounded value of its text: compared bit for bit with
    // std::from_chars on random decimals of 1 to 25 digits, and on halfway cases.
    std::mt19937_64 rng(77);
    std::vector<std::string> texts = {"9007199254740993.0",           "9007199254740995.0",
                                      "9007199254740993.00000000001", "0.30000000000000004441",
                                      "18446744073709551615.5",       "4503599627370496.5",
                                      "4503599627370497.5",           "1.7976931348623157e308",
                                      "2.2250738585072014e-308",      "4.9406564584124654e-324"};
    for (int i = 0; i < 60000; ++i) {
        const int digits = 1 + static_cast<int>(rng() % (i % 4 == 0 ? 25 : 19));
        std::string d;
        for (int k = 0; k < digits; ++k)
            d += static_cast<char>('0' + rng() % 10);
        if (d[0] == '0')
            d[0] = '1';
        const int point = static_cast<int>(rng() % static_cast<uint64_t>(digits));
        std::string t = d.substr(0, static_cast<std::size_t>(point + 1));
        if (point + 1 < digits)
            t += "." + d.substr(static_cast<std::size_t>(point + 1));
        if (rng() % 3 == 0 || point + 1 == digits)
            t += "e" + std::to_string(static_cast<int>(rng() % 61) - 30);
        if (t.find('.') == std::string::npos && t.substr(t.size() - 2) == "e0")
            t += "1";  // keep it a Double
        texts.push_back(t);
    }
    int mismatches = 0;
    QByteArray first;
    for (const std::string& t : texts) {
        double expected = 0;
        std::from_chars(t.data(), t.data() + t.size(), expected);
        Tree n = Read(QByteArray::fromStdString(t));
        if (!n || n->kind != kJsonDouble || Bits(n->double_value) != Bits(expected)) {
            if (!mismatches++)
                first = QByteArray::fromStdString(t);
        }
    }
    QCOMPARE(first, QByteArray());
    QCOMPARE(mismatches, 0);
}

void TestJsonText::fixedMatchesPrintf_data() {
    QTest::addColumn<double>("value");
    const double values[] = {0.5,       1e10,    1e-7,  -0.0,      0.0000005, 0.0000025,
                             2.5,       0.125,   1e308, DBL_MAX,   DBL_MIN,   5e-324,
                             -1.5,      1e22,    1e23,  9.9999995, 0.1,       123456.7890125,
                             -987654.3, 4.35e15, 2e-6,  1.0000005, 1e-6,      999999.9999995};
    for (double v : values)
        QTest::newRow(qPrintable(QByteArray::number(v, 'g', 17))) << v;
}

void TestJsonText::fixedMatchesPrintf() {
    QFETCH(double, value);
    std::string out;
    JsonAppendFixed(out, value);
    QCOMPARE(QByteArray::fromStdString(out), PrintfFixed(value));
}

void TestJsonText::fixedMatchesPrintfAtRandom() {
    // Random bit patterns (every magnitude), values near the fast path's bound, and exact
    // halfway cases (multiples of 2^-7 end in a 5 at the seventh decimal).
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int checked = 0;
    QByteArray firstMismatch;
    auto check = [&](double v) {
        if (!std::isfinite(v))
            return;
        std::string out;
        JsonAppendFixed(out, v);
        ++checked;
        if (firstMismatch.isEmpty() && QByteArray::fromStdString(out) != PrintfFixed(v))
            firstMismatch =
                QByteArray::number(v, 'g', 17) + " gave " + QByteArray::fromStdString(out);
    };
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        check(v);
        check(unit(rng) * std::pow(10.0, static_cast<int>(rng() % 20) - 10));
        check((unit(rng) - 0.5) * 2e9);
        check(
            static_cast<double>(static_cast<int64_t>(rng() % 2000000000000ULL) - 1000000000000LL) /
            128.0);
        check(static_cast<double>(rng() % 100000000ULL) / 1048576.0);
    }
    QCOMPARE(firstMismatch, QByteArray());
    QVERIFY(checked > 90000);
}

void TestJsonText::integerPrinting_data() {
    QTest::addColumn<qint64>("value");
    QTest::addColumn<int>("sign");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("signed -5") << qint64(-5) << -1 << QByteArray("-5");
    QTest::newRow("unsigned -5 bits") << qint64(-5) << 1 << QByteArray("18446744073709551611");
    QTest::newRow("unsigned -1 bits") << qint64(-1) << 1 << QByteArray("18446744073709551615");
    QTest::newRow("signed zero") << qint64(0) << -1 << QByteArray("0");
    QTest::newRow("signed min") << std::numeric_limits<qint64>::min() << -1
                                << QByteArray("-9223372036854775808");
    QTest::newRow("unsigned 2^32-1") << qint64(4294967295LL) << 1 << QByteArray("4294967295");
    QTest::newRow("signed 2^31-1") << qint64(2147483647) << -1 << QByteArray("2147483647");
    QTest::newRow("signed 2^31") << qint64(2147483648LL) << -1 << QByteArray("2147483648");
}

void TestJsonText::integerPrinting() {
    QFETCH(qint64, value);
    QFETCH(int, sign);
    QFETCH(QByteArray, written);
    JsonNode* n = JsonNewInt(value, sign);
    Tree t(n);
    QCOMPARE(Compact(n), written);
}

void TestJsonText::readEscapes_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("e acute") << QByteArray("\"\\u00e9\"") << QByteArray("\xC3\xA9");
    QTest::newRow("upper-case hex") << QByteArray("\"\\u00E9\"") << QByteArray("\xC3\xA9");
    QTest::newRow("smiley pair") << QByteArray("\"\\ud83d\\ude00\"")
                                 << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("U+20000 pair") << QByteArray("\"\\ud840\\udc00\"")
                                  << QByteArray("\xF0\xA0\x80\x80");
    QTest::newRow("last code point")
        << QByteArray("\"\\udbff\\udfff\"") << QByteArray("\xF4\x8F\xBF\xBF");
    QTest::newRow("one byte") << QByteArray("\"\\u0041\"") << QByteArray("A");
    QTest::newRow("two bytes max") << QByteArray("\"\\u07FF\"") << QByteArray("\xDF\xBF");
    QTest::newRow("three bytes min") << QByteArray("\"\\u0800\"") << QByteArray("\xE0\xA0\x80");
    QTest::newRow("three bytes max") << QByteArray("\"\\uFFFF\"") << QByteArray("\xEF\xBF\xBF");
    QTest::newRow("u0000 writes nothing") << QByteArray("\"a\\u0000b\"") << QByteArray("ab");
    QTest::newRow("lone low surrogate") << QByteArray("\"a\\udc00b\"") << QByteArray("ab");
    QTest::newRow("high surrogate then text") << QByteArray("\"\\ud83dxy\"") << QByteArray("xy");
    QTest::newRow("high surrogate at the end") << QByteArray("\"\\ud83d\"") << QByteArray("");
    QTest::newRow("high surrogate then other escape")
        << QByteArray("\"\\ud83d\\nz\"") << QByteArray("\nz");
    QTest::newRow("high surrogate then non-low \\u")
        << QByteArray("\"\\ud83d\\u0041z\"") << QByteArray("z");
    QTest::newRow("short escapes") << QByteArray("\"\\b\\f\\n\\r\\t\"") << QByteArray("\b\f\n\r\t");
    QTest::newRow("escaped quote, backslash, slash")
        << QByteArray("\"\\\"\\\\\\/\"") << QByteArray("\"\\/");
    QTest::newRow("unknown escape is the byte") << QByteArray("\"\\q\\'\"") << QByteArray("q'");
    QTest::newRow("escaped backslash then u") << QByteArray("\"\\\\u12\"") << QByteArray("\\u12");
    QTest::newRow("raw high bytes copied")
        << QByteArray("\"\xE4\xB8\xAD\xFF\"") << QByteArray("\xE4\xB8\xAD\xFF");
    QTest::newRow("raw control bytes copied") << QByteArray("\"\x01\t\"") << QByteArray("\x01\t");
}

void TestJsonText::readEscapes() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    Tree t = Read(text);
    QVERIFY(t);
    QCOMPARE(t->kind, static_cast<int32_t>(kJsonString));
    QCOMPARE(QByteArray(t->text), bytes);
    // A key is read by the same rules.
    Tree o = Read("{" + text + ":0}");
    QVERIFY(o);
    QCOMPARE(QByteArray(o->child->key), bytes);
}

void TestJsonText::writeEscapes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("line feed and 0x01") << QByteArray("a\nb\x01") << QByteArray("\"a\\nb\\u0001\"");
    QTest::newRow("quote and backslash") << QByteArray("\"\\") << QByteArray("\"\\\"\\\\\"");
    QTest::newRow("short forms") << QByteArray("\b\t\n\f\r") << QByteArray("\"\\b\\t\\n\\f\\r\"");
    QTest::newRow("other controls lower-case hex")
        << QByteArray("\x1f\x0b\x1a") << QByteArray("\"\\u001f\\u000b\\u001a\"");
    QTest::newRow("slash unchanged") << QByteArray("a/b") << QByteArray("\"a/b\"");
    QTest::newRow("DEL unchanged") << QByteArray("\x7f") << QByteArray("\"\x7f\"");
    QTest::newRow("high bytes unchanged")
        << QByteArray("\xC3\xA9\xFF") << QByteArray("\"\xC3\xA9\xFF\"");
    QTest::newRow("empty") << QByteArray("") << QByteArray("\"\"");
    // Texts longer than the writer's output block, with and without escapes.
    QByteArray plain(40000, 'p'), mixed, mixed_written = "\"";
    for (int i = 0; i < 5000; ++i) {
        mixed += i % 7 ? 'm' : '\x01';
        mixed_written += i % 7 ? QByteArray("m") : QByteArray("\\u0001");
    }
    QTest::newRow("long plain") << plain << "\"" + plain + "\"";
    QTest::newRow("long with escapes") << mixed << mixed_written + "\"";
}

void TestJsonText::writeEscapes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, written);
    Tree t(JsonNewString(bytes.toStdString()));
    QCOMPARE(Compact(t.get()), written);
    // Keys are escaped the same way.
    Tree o(JsonNewNode(kJsonObject));
    o->child = JsonNewNode(kJsonNull);
    JsonSetKey(o->child, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    QCOMPARE(Compact(o.get()), "{" + written + ":null}");
}

void TestJsonText::layout_data() {
    QTest::addColumn<QByteArray>("compact");
    QTest::addColumn<QByteArray>("formatted");
    QTest::newRow("command") << QByteArray("{\"ProtocolCode\":1,\"Parameters\":{\"a\":[1,2]}}")
                             << QByteArray(
                                    "{\n\t\"ProtocolCode\":\t1,\n\t\"Parameters\":\t{\n"
                                    "\t\t\"a\":\t[1, 2]\n\t}\n}");
    QTest::newRow("nested empty object")
        << QByteArray("{\"a\":{}}") << QByteArray("{\n\t\"a\":\t{\n\t}\n}");
    QTest::newRow("top empty object") << QByteArray("{}") << QByteArray("{\n}");
    QTest::newRow("empty array") << QByteArray("[]") << QByteArray("[]");
    QTest::newRow("objects in an array")
        << QByteArray("[{\"a\":1},{}]") << QByteArray("[{\n\t\t\"a\":\t1\n\t}, {\n\t}]");
    QTest::newRow("arrays in an array")
        << QByteArray("[[1,2],[],[{}]]") << QByteArray("[[1, 2], [], [{\n\t\t}]]");
    QTest::newRow("object in array in object")
        << QByteArray("{\"a\":[{\"b\":null}]}")
        << QByteArray("{\n\t\"a\":\t[{\n\t\t\t\"b\":\tnull\n\t\t}]\n}");
    QTest::newRow("all scalars") << QByteArray("[true,false,null,-1,1.500000,\"s\"]")
                                 << QByteArray("[true, false, null, -1, 1.500000, \"s\"]");
    QTest::newRow("string") << QByteArray("\"x\"") << QByteArray("\"x\"");
}

void TestJsonText::layout() {
    QFETCH(QByteArray, compact);
    QFETCH(QByteArray, formatted);
    Tree t = Read(compact);
    QVERIFY(t);
    QCOMPARE(Compact(t.get()), compact);
    QCOMPARE(Formatted(t.get()), formatted);
    // The formatted text reads back to the same tree.
    Tree again = Read(formatted);
    QVERIFY(again);
    QCOMPARE(Compact(again.get()), compact);
}

void TestJsonText::roundTrip_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("tiny double") << QByteArray("[1e-7,-1e-7,5e-7]");
    QTest::newRow("big integers") << QByteArray("[18446744073709551615,-9223372036854775808]");
    QTest::newRow("beyond 64 bits") << QByteArray("[99999999999999999999,-99999999999999999999]");
    QTest::newRow("non-finite") << QByteArray("[1e999,-1e999]");
    QTest::newRow("escapes") << QByteArray("[\"\\u0001\\ud83d\\ude00\\t\\\"\"]");
    QTest::newRow("huge double") << QByteArray("1.7976931348623157e308");
}

void TestJsonText::roundTrip() {
    // Read, write, read, write: the two texts agree (what the fuzz target checks).
    QFETCH(QByteArray, text);
    Tree first = Read(text);
    QVERIFY(first);
    QByteArray once = Compact(first.get());
    Tree second = Read(once);
    QVERIFY(second);
    QCOMPARE(Compact(second.get()), once);
}

void TestJsonText::nestingLimit() {
    QCOMPARE(kJsonMaxDepth, 512);
    Tree ok = Read(Nested(kJsonMaxDepth, "[", "]"));
    QVERIFY(ok);
    // Far deeper than the limit: an ordinary failure, not a stack overflow.
    QByteArray deep(200000, '[');
    JsonReadResult r = JsonRead(deep.constData());
    QVERIFY(!r.root);
    QCOMPARE(r.error_offset, static_cast<std::size_t>(kJsonMaxDepth));
}

void TestJsonText::deepTreeWritesAndFrees() {
    // Trees built node by node have no depth limit; writing and freeing must not recurse.
    const int depth = 200000;
    JsonNode* root = JsonNewNode(kJsonArray);
    JsonNode* cur = root;
    for (int i = 1; i < depth; ++i) {
        JsonNode* n = JsonNewNode(i % 2 ? kJsonObject : kJsonArray);
        if (cur->kind == kJsonObject)
            JsonSetKey(n, "k", 1);
        cur->child = n;
        cur = n;
    }
    Tree t(root);
    std::string compact = JsonWrite(root, JsonLayout::kCompact);
    QCOMPARE(compact.size(), static_cast<std::size_t>(depth * 2 + (depth / 2 - 1) * 4));
    QCOMPARE(compact.substr(0, 8), std::string("[{\"k\":[{"));

    JsonNode* arrays = JsonNewNode(kJsonArray);
    cur = arrays;
    for (int i = 1; i < depth; ++i)
        cur = cur->child = JsonNewNode(kJsonArray);
    Tree a(arrays);
    std::string formatted = JsonWrite(arrays, JsonLayout::kFormatted);
    QCOMPARE(formatted, std::string(depth, '[') + std::string(depth, ']'));
}

void TestJsonText::writeOnlyTheNodeNotItsSiblings() {
    Tree t = Read("[1,{\"a\":2},3]");
    QVERIFY(t);
    JsonNode* second = t->child->next;
    QCOMPARE(Compact(second), QByteArray("{\"a\":2}"));
    QCOMPARE(Compact(second->child), QByteArray("2"));
    QCOMPARE(Compact(nullptr), QByteArray());
}

void TestJsonText::changedReadTreesFreeEverything_data() {
    // A tree as the reader made it is freed at once; after a change every node and text it
    // holds must still be freed (the sanitizer build reports leaks and use after free).
    QTest::addColumn<int>("change");
    QTest::addColumn<QByteArray>("compact");
    QTest::newRow("key of a member") << 0 << QByteArray("{\"renamed\":[1,{\"b\":\"x\"}]}");
    QTest::newRow("text of the root") << 1 << QByteArray("\"root text\"");
    QTest::newRow("node linked in") << 2 << QByteArray("{\"a\":[1,{\"b\":\"x\"},\"new\"]}");
    QTest::newRow("subtree kept after the root") << 3 << QByteArray("{\"b\":\"x\"}");
    QTest::newRow("read inside another tree") << 4 << QByteArray("[{\"a\":[1,{\"b\":\"x\"}]}]");
}

void TestJsonText::changedReadTreesFreeEverything() {
    QFETCH(int, change);
    QFETCH(QByteArray, compact);
    JsonNode* root = JsonRead(change == 1 ? "\"s\"" : "{\"a\":[1,{\"b\":\"x\"}]}").root;
    QVERIFY(root);
    JsonNode* array = root->child;
    if (change == 0) {
        JsonSetKey(array, "renamed", 7);
    } else if (change == 1) {
        JsonSetText(root, "root text", 9);
    } else if (change == 2) {
        JsonNoteChange(array);
        JsonNode* added = JsonNewString("new");
        array->child->next->next = added;
        added->prev = array->child->next;
    } else if (change == 3) {
        JsonNode* kept = array->child->next;
        JsonNoteChange(array);
        JsonNoteChange(kept);
        array->child->next = nullptr;
        kept->prev = nullptr;
        JsonFree(root);
        root = kept;
    } else {
        JsonNode* outer = JsonNewNode(kJsonArray);
        outer->child = root;
        root = outer;
    }
    QCOMPARE(Compact(root), compact);
    JsonFree(root);
}

void TestJsonText::concurrentReadsKeepTheirOwnPositions() {
    // Each thread fails at its own position; no position leaks between threads.
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([k, &wrong] {
            std::string text = "[" + std::string(static_cast<std::size_t>(k) * 3, ' ') + "1,x]";
            for (int i = 0; i < 2000; ++i) {
                JsonReadResult r = JsonRead(text.c_str());
                if (r.root || r.error_offset != text.size() - 2)
                    ++wrong[static_cast<std::size_t>(k)];
                JsonReadResult ok = JsonRead("{\"a\":[1,2,3]}");
                if (!ok.root)
                    ++wrong[static_cast<std::size_t>(k)];
                JsonFree(ok.root);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    QCOMPARE(wrong, std::vector<int>(4, 0));
}

QTEST_APPLESS_MAIN(TestJsonText)
#include "test_json_text.moc"
