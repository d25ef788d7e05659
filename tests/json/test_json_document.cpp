// neb::CJsonObject: construction and text, error texts, every write family with every value
// type, reads and their conversions, member-cache and view semantics.
#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "json/json_document.h"

using neb::CJsonObject;
using Op = std::function<bool(CJsonObject&)>;
Q_DECLARE_METATYPE(Op)

namespace {

QByteArray Q(const std::string& s) {
    return QByteArray::fromStdString(s);
}

const char kNull[] = "json data is null!";
const char kNotObject[] = "not a json object! json array?";
const char kNotArray[] = "not a json array! json object?";
const char kKeyExists[] = "key exists!";
const char kReadError[] = "prase json string error at ";

// A document that starts void ("" means void) or read from the text.
CJsonObject Start(const QByteArray& text) {
    CJsonObject d;
    if (!text.isEmpty())
        d.FromText(text.toStdString());
    return d;
}

}  // namespace

class TestJsonDocument : public QObject {
    Q_OBJECT

private slots:
    void voidDocument();
    void fromTextFailures_data();
    void fromTextFailures();
    void copyAndAssign();
    void writeRefusals_data();
    void writeRefusals();
    void writeFamilies_data();
    void writeFamilies();
    void successNeverClearsTheError();
    void reads_data();
    void reads();
    void readText_data();
    void readText();
    void failedReadsLeaveOutputAlone();
    void readsByIndex();
    void arrayQueries_data();
    void arrayQueries();
    void memberLookupIgnoresCaseCacheDoesNot();
    void missingMemberIsVoid();
    void viewWritesReachTheParent();
    void voidChildCachedBeforePutStaysDetached();
    void putDocumentDropsTheCachedChild();
    void appendDocumentDropsTrailingElements();
    void prependDropsOnlyForDocuments();
    void replaceAndRemoveDropTheirEntries();
    void freeingANodeDropsEveryViewOfIt();
    void resetKeepsTheError();
    void documentWritesCopyByText();
    void chainedCalls();
};

void TestJsonDocument::voidDocument() {
    CJsonObject d;
    QVERIFY(d.IsVoid());
    QVERIFY(!d.IsArray());
    QCOMPARE(d.ArraySize(), 0);
    QCOMPARE(Q(d.CompactText()), QByteArray());
    QCOMPARE(Q(d.PrettyText()), QByteArray());
    QCOMPARE(Q(d.LastError()), QByteArray());
    QCOMPARE(Q(d.ReadText("a")), QByteArray());
}

void TestJsonDocument::fromTextFailures_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("trailing comma") << QByteArray("{\"a\":1,}") << QByteArray("}");
    QTest::newRow("empty text") << QByteArray("") << QByteArray("");
    QTest::newRow("rest of the text") << QByteArray("[1,2,]x y") << QByteArray("]x y");
    QTest::newRow("end of text") << QByteArray("[1,2") << QByteArray("");
    QTest::newRow("short \\u") << QByteArray("[\"ab\\u12\"]") << QByteArray("\\u12\"]");
    QTest::newRow("rest stops at NUL") << QByteArray("[1 x\0yz", 7) << QByteArray("x");
}

void TestJsonDocument::fromTextFailures() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, error);
    CJsonObject d("[1]");
    QVERIFY(!d.FromText(text.toStdString()));
    QVERIFY(d.IsVoid());
    QCOMPARE(Q(d.LastError()), kReadError + error);
    CJsonObject constructed(text.toStdString());
    QVERIFY(constructed.IsVoid());
    QCOMPARE(Q(constructed.LastError()), kReadError + error);
}

void TestJsonDocument::copyAndAssign() {
    CJsonObject src("{\"a\":[1,2],\"b\":\"x\"}");
    src.Member("a");
    src.PutInt32("b", 1);  // leaves "key exists!" in src
    CJsonObject copy(src);
    QCOMPARE(Q(copy.CompactText()), QByteArray("{\"a\":[1,2],\"b\":\"x\"}"));
    QCOMPARE(Q(copy.LastError()), QByteArray());
    // The copy owns its own tree.
    QVERIFY(copy.Member("a").AppendInt32(3));
    QCOMPARE(Q(copy.CompactText()), QByteArray("{\"a\":[1,2,3],\"b\":\"x\"}"));
    QCOMPARE(Q(src.CompactText()), QByteArray("{\"a\":[1,2],\"b\":\"x\"}"));

    // A void source gives a void copy with the read error of "".
    CJsonObject empty;
    CJsonObject voidCopy(empty);
    QVERIFY(voidCopy.IsVoid());
    QCOMPARE(Q(voidCopy.LastError()), QByteArray(kReadError));

    // Assignment behaves like copy construction: the old error goes, the text is read.
    CJsonObject target("[");
    QCOMPARE(Q(target.LastError()), QByteArray(kReadError));
    target = src;
    QCOMPARE(Q(target.LastError()), QByteArray());
    QCOMPARE(Q(target.CompactText()), Q(src.CompactText()));
    CJsonObject& alias = target;
    target = alias;
    QCOMPARE(Q(target.CompactText()), Q(src.CompactText()));
    // Assigning a child of the target to the target itself.
    target = target.Member("a");
    QCOMPARE(Q(target.CompactText()), QByteArray("[1,2]"));
    target = empty;
    QVERIFY(target.IsVoid());
    QCOMPARE(Q(target.LastError()), QByteArray(kReadError));
}

void TestJsonDocument::writeRefusals_data() {
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<Op>("op");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QByteArray>("after");
    auto row = [](const char* name, const char* start, Op op, const QByteArray& error,
                  const char* after) {
        QTest::newRow(name) << QByteArray(start) << op << error << QByteArray(after);
    };
    row(
        "replace on void", "", [](CJsonObject& d) { return d.ReplaceInt32("a", 1); }, kNull, "");
    row(
        "replace at on void", "", [](CJsonObject& d) { return d.ReplaceNullAt(0); }, kNull, "");
    row(
        "replace document on void", "",
        [](CJsonObject& d) { return d.ReplaceDocument("a", CJsonObject("1")); }, kNull, "");
    row(
        "remove member on void", "", [](CJsonObject& d) { return d.RemoveMember("a"); }, kNull, "");
    row(
        "remove at on void", "", [](CJsonObject& d) { return d.RemoveAt(0); }, kNull, "");
    row(
        "put on array", "[1,2]", [](CJsonObject& d) { return d.PutString("a", "x"); }, kNotObject,
        "[1,2]");
    row(
        "put empty object on array", "[]", [](CJsonObject& d) { return d.PutEmptyObject("a"); },
        kNotObject, "[]");
    row(
        "put document on array", "[]",
        [](CJsonObject& d) { return d.PutDocument("a", CJsonObject("{}")); }, kNotObject, "[]");
    row(
        "replace on array", "[1]", [](CJsonObject& d) { return d.ReplaceBool("a", true); },
        kNotObject, "[1]");
    row(
        "remove member on array", "[1]", [](CJsonObject& d) { return d.RemoveMember("a"); },
        kNotObject, "[1]");
    row(
        "put on string", "\"s\"", [](CJsonObject& d) { return d.PutNull("a"); }, kNotObject,
        "\"s\"");
    row(
        "append on object", "{}", [](CJsonObject& d) { return d.AppendInt32(1); }, kNotArray, "{}");
    row(
        "prepend on object", "{}", [](CJsonObject& d) { return d.PrependDouble(1); }, kNotArray,
        "{}");
    row(
        "replace at on object", "{}", [](CJsonObject& d) { return d.ReplaceInt32At(0, 1); },
        kNotArray, "{}");
    row(
        "remove at on object", "{}", [](CJsonObject& d) { return d.RemoveAt(0); }, kNotArray, "{}");
    row(
        "append on number", "5", [](CJsonObject& d) { return d.AppendNull(); }, kNotArray, "5");
    row(
        "put existing key", "{\"ProtocolCode\":999}",
        [](CJsonObject& d) { return d.PutInt32("protocolcode", 1); }, kKeyExists,
        "{\"ProtocolCode\":999}");
    row(
        "put empty array on existing key", "{\"a\":1}",
        [](CJsonObject& d) { return d.PutEmptyArray("A"); }, kKeyExists, "{\"a\":1}");
    row(
        "key checked before the document is read", "{\"a\":1}",
        [](CJsonObject& d) { return d.PutDocument("a", CJsonObject()); }, kKeyExists, "{\"a\":1}");
    row(
        "put void document", "{\"a\":1}",
        [](CJsonObject& d) { return d.PutDocument("b", CJsonObject()); }, kReadError, "{\"a\":1}");
    row(
        "replace with void document", "{\"a\":1}",
        [](CJsonObject& d) { return d.ReplaceDocument("a", CJsonObject()); }, kReadError,
        "{\"a\":1}");
    row(
        "replace at with void document", "[1]",
        [](CJsonObject& d) { return d.ReplaceDocumentAt(0, CJsonObject()); }, kReadError, "[1]");
    row(
        "append void document to void", "",
        [](CJsonObject& d) { return d.AppendDocument(CJsonObject()); }, kReadError, "[]");
    row(
        "prepend void document", "[1]",
        [](CJsonObject& d) { return d.PrependDocument(CJsonObject()); }, kReadError, "[1]");
    row(
        "replace missing member", "{\"a\":1}",
        [](CJsonObject& d) { return d.ReplaceInt32("b", 2); }, "", "{\"a\":1}");
    row(
        "replace missing element", "[1]", [](CJsonObject& d) { return d.ReplaceInt32At(1, 2); }, "",
        "[1]");
    row(
        "index beyond signed range", "[1]",
        [](CJsonObject& d) { return d.ReplaceInt32At(0x80000000u, 2); }, "", "[1]");
}

void TestJsonDocument::writeRefusals() {
    QFETCH(QByteArray, start);
    QFETCH(Op, op);
    QFETCH(QByteArray, error);
    QFETCH(QByteArray, after);
    CJsonObject d = Start(start);
    QVERIFY(!op(d));
    QCOMPARE(Q(d.LastError()), error);
    QCOMPARE(Q(d.CompactText()), after);
}

void TestJsonDocument::writeFamilies_data() {
    // Every value type through every write family; each row: the put, append, prepend,
    // replace and replace-at operation and the text the value writes as.
    QTest::addColumn<Op>("put");
    QTest::addColumn<Op>("append");
    QTest::addColumn<Op>("prepend");
    QTest::addColumn<Op>("replace");
    QTest::addColumn<Op>("replaceAt");
    QTest::addColumn<QByteArray>("value");
    const CJsonObject doc("{\"x\":[1,\"y\"]}");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const int64_t i64 = std::numeric_limits<int64_t>::min();
    const uint64_t u64 = std::numeric_limits<uint64_t>::max();
    const std::string str = "a\"\n";
    // clang-format off
#define FAMILY(name, Type, value, text)                                                   \
    QTest::newRow(name) << Op([=](CJsonObject& d) { return d.Put##Type("k", value); })      \
                        << Op([=](CJsonObject& d) { return d.Append##Type(value); })        \
                        << Op([=](CJsonObject& d) { return d.Prepend##Type(value); })       \
                        << Op([=](CJsonObject& d) { return d.Replace##Type("k", value); })  \
                        << Op([=](CJsonObject& d) { return d.Replace##Type##At(0, value); }) \
                        << QByteArray(text)
    FAMILY("String", String, str, "\"a\\\"\\n\"");
    FAMILY("Int32 negative is signed", Int32, -5, "-5");
    FAMILY("Uint32 max is unsigned", Uint32, 4294967295u, "4294967295");
    FAMILY("Int64 min", Int64, i64, "-9223372036854775808");
    FAMILY("Uint64 max", Uint64, u64, "18446744073709551615");
    FAMILY("Bool true", Bool, true, "true");
    FAMILY("Bool false", Bool, false, "false");
    FAMILY("Float widened", Float, 0.1f, "0.100000");
    FAMILY("Double", Double, 1e10, "10000000000.000000");
    FAMILY("Double NaN writes null", Double, nan, "null");
    FAMILY("Float infinity writes null", Float, static_cast<float>(-inf), "null");
    FAMILY("Document", Document, doc, "{\"x\":[1,\"y\"]}");
#undef FAMILY
    // clang-format on
    QTest::newRow("Null") << Op([](CJsonObject& d) { return d.PutNull("k"); })
                          << Op([](CJsonObject& d) { return d.AppendNull(); })
                          << Op([](CJsonObject& d) { return d.PrependNull(); })
                          << Op([](CJsonObject& d) { return d.ReplaceNull("k"); })
                          << Op([](CJsonObject& d) { return d.ReplaceNullAt(0); })
                          << QByteArray("null");
}

void TestJsonDocument::writeFamilies() {
    QFETCH(Op, put);
    QFETCH(Op, append);
    QFETCH(Op, prepend);
    QFETCH(Op, replace);
    QFETCH(Op, replaceAt);
    QFETCH(QByteArray, value);

    CJsonObject fresh;  // a void document becomes an object
    QVERIFY(put(fresh));
    QCOMPARE(Q(fresh.CompactText()), "{\"k\":" + value + "}");
    CJsonObject object("{\"a\":0}");
    QVERIFY(put(object));
    QCOMPARE(Q(object.CompactText()), "{\"a\":0,\"k\":" + value + "}");
    QVERIFY(!put(object));
    QCOMPARE(Q(object.LastError()), QByteArray(kKeyExists));

    CJsonObject freshArray;  // a void document becomes an array
    QVERIFY(append(freshArray));
    QCOMPARE(Q(freshArray.CompactText()), "[" + value + "]");
    CJsonObject array("[0]");
    QVERIFY(append(array));
    QCOMPARE(Q(array.CompactText()), "[0," + value + "]");
    QCOMPARE(array.ArraySize(), 2);

    CJsonObject freshFront;
    QVERIFY(prepend(freshFront));
    QCOMPARE(Q(freshFront.CompactText()), "[" + value + "]");
    CJsonObject front("[0]");
    QVERIFY(prepend(front));
    QCOMPARE(Q(front.CompactText()), "[" + value + ",0]");

    // Replace keeps the member's place; the member takes the key as written by the caller.
    CJsonObject member("{\"a\":1,\"K\":2,\"k\":3}");
    QVERIFY(replace(member));
    QCOMPARE(Q(member.CompactText()), "{\"a\":1,\"k\":" + value + ",\"k\":3}");

    CJsonObject element("[1,2]");
    QVERIFY(replaceAt(element));
    QCOMPARE(Q(element.CompactText()), "[" + value + ",2]");

    // Formatted text of the result reads back to the same compact text.
    CJsonObject again(member.PrettyText());
    QCOMPARE(Q(again.CompactText()), Q(member.CompactText()));
}

void TestJsonDocument::successNeverClearsTheError() {
    CJsonObject d("[1]");
    QVERIFY(!d.PutInt32("a", 1));
    QVERIFY(d.AppendInt32(2));
    QVERIFY(d.FromText("{}"));
    QVERIFY(d.PutInt32("a", 1));
    QCOMPARE(Q(d.LastError()), QByteArray(kNotObject));
    QVERIFY(!d.PutInt32("A", 1));
    QCOMPARE(Q(d.LastError()), QByteArray(kKeyExists));
}

void TestJsonDocument::reads_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");
    auto row = [](const char* name, const char* text, const char* read, bool found,
                  const char* value) {
        QTest::newRow(name) << QByteArray(text) << QByteArray(read) << found << QByteArray(value);
    };
    row("Int32 of a string fails", "{\"k\":\"80\"}", "Int32", false, "");
    row("Int32 of 2.9", "{\"k\":2.9}", "Int32", true, "2");
    row("Int32 of -2.9", "{\"k\":-2.9}", "Int32", true, "-2");
    row("Int32 of true fails", "{\"k\":true}", "Int32", false, "");
    row("Int32 of null fails", "{\"k\":null}", "Int32", false, "");
    row("Int32 low bits", "{\"k\":4294967297}", "Int32", true, "1");
    row("Int32 of 3e9 low bits", "{\"k\":3e9}", "Int32", true, "-1294967296");
    row("Int32 of 1e30 saturates first", "{\"k\":1e30}", "Int32", true, "-1");
    row("Int32 of -infinity", "{\"k\":-1e999}", "Int32", true, "0");
    row("Uint32 of -1", "{\"k\":-1}", "Uint32", true, "4294967295");
    row("Uint32 of -1.5", "{\"k\":-1.5}", "Uint32", true, "4294967295");
    row("Int64 of 1e30 saturates", "{\"k\":1e30}", "Int64", true, "9223372036854775807");
    row("Int64 of -1e30 saturates", "{\"k\":-1e30}", "Int64", true, "-9223372036854775808");
    row("Int64 of 2^63 as Int", "{\"k\":9223372036854775808}", "Int64", true,
        "-9223372036854775808");
    row("Uint64 of 2^64-1", "{\"k\":18446744073709551615}", "Uint64", true, "18446744073709551615");
    row("Uint64 of 1e19 kept", "{\"k\":1e19}", "Uint64", true, "10000000000000000000");
    row("Uint64 of 1e30 saturates", "{\"k\":1e30}", "Uint64", true, "18446744073709551615");
    row("Uint64 of -1", "{\"k\":-1}", "Uint64", true, "18446744073709551615");
    row("Uint64 of -1.0", "{\"k\":-1.0}", "Uint64", true, "18446744073709551615");
    row("Bool true", "{\"k\":true}", "Bool", true, "1");
    row("Bool false", "{\"k\":false}", "Bool", true, "0");
    row("Bool of 1 fails", "{\"k\":1}", "Bool", false, "");
    row("Float of 0.5", "{\"k\":0.5}", "Float", true, "0.5");
    row("Float of 1e300 is infinite", "{\"k\":1e300}", "Float", true, "inf");
    row("Float of Int", "{\"k\":3}", "Float", true, "3");
    row("Double of Int", "{\"k\":-7}", "Double", true, "-7");
    row("Double of unsigned Int", "{\"k\":18446744073709551615}", "Double", true,
        "1.8446744073709552e+19");
    row("Double of string fails", "{\"k\":\"1\"}", "Double", false, "");
    row("String", "{\"k\":\"v\"}", "String", true, "v");
    row("String of number fails", "{\"k\":1}", "String", false, "");
    row("case-insensitive key", "{\"K\":5}", "Int32", true, "5");
    row("first duplicate wins", "{\"k\":1,\"K\":2}", "Int32", true, "1");
    row("missing key", "{\"j\":1}", "Int32", false, "");
    row("by key on an array", "[1]", "Int32", false, "");
    row("IsNull", "{\"k\":null}", "IsNull", true, "");
    row("IsNull of 0", "{\"k\":0}", "IsNull", false, "");
    row("IsNull missing", "{}", "IsNull", false, "");
}

void TestJsonDocument::reads() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, read);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);
    const CJsonObject d(text.toStdString());
    QVERIFY(!d.IsVoid());
    QByteArray got;
    bool ok = false;
    if (read == "Int32") {
        int32_t v = 0;
        ok = d.ReadInt32("k", v);
        got = QByteArray::number(v);
    } else if (read == "Uint32") {
        uint32_t v = 0;
        ok = d.ReadUint32("k", v);
        got = QByteArray::number(v);
    } else if (read == "Int64") {
        int64_t v = 0;
        ok = d.ReadInt64("k", v);
        got = QByteArray::number(static_cast<qlonglong>(v));
    } else if (read == "Uint64") {
        uint64_t v = 0;
        ok = d.ReadUint64("k", v);
        got = QByteArray::number(static_cast<qulonglong>(v));
    } else if (read == "Bool") {
        bool v = false;
        ok = d.ReadBool("k", v);
        got = QByteArray::number(v ? 1 : 0);
    } else if (read == "Float") {
        float v = 0;
        ok = d.ReadFloat("k", v);
        got = std::isinf(v) ? QByteArray("inf") : QByteArray::number(v, 'g', 9);
    } else if (read == "Double") {
        double v = 0;
        ok = d.ReadDouble("k", v);
        got = QByteArray::number(v, 'g', 17);
    } else if (read == "String") {
        std::string v;
        ok = d.ReadString("k", v);
        got = Q(v);
    } else if (read == "IsNull") {
        ok = d.IsNull("k");
    }
    QCOMPARE(ok, found);
    if (found && read != "IsNull")
        QCOMPARE(got, value);
    // Reads never touch the error text.
    QCOMPARE(Q(d.LastError()), QByteArray());
}

void TestJsonDocument::readText_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("negative Int") << QByteArray("{\"k\":-7}") << QByteArray("-7");
    QTest::newRow("2^32") << QByteArray("{\"k\":4294967296}") << QByteArray("4294967296");
    QTest::newRow("2^64-1") << QByteArray("{\"k\":18446744073709551615}")
                            << QByteArray("18446744073709551615");
    QTest::newRow("null is empty") << QByteArray("{\"k\":null}") << QByteArray();
    QTest::newRow("true") << QByteArray("{\"k\":true}") << QByteArray("true");
    QTest::newRow("false") << QByteArray("{\"k\":false}") << QByteArray("false");
    QTest::newRow("string bytes, unescaped")
        << QByteArray("{\"k\":\"a\\nb\"}") << QByteArray("a\nb");
    QTest::newRow("double %f") << QByteArray("{\"k\":1.5}") << QByteArray("1.500000");
    QTest::newRow("1e9 still %f") << QByteArray("{\"k\":1e9}") << QByteArray("1000000000.000000");
    QTest::newRow("above 1e9 %e") << QByteArray("{\"k\":1e10}") << QByteArray("1.000000e+10");
    QTest::newRow("1e-6 still %f") << QByteArray("{\"k\":1e-6}") << QByteArray("0.000001");
    QTest::newRow("below 1e-6 %e") << QByteArray("{\"k\":-1.5e-7}") << QByteArray("-1.500000e-07");
    QTest::newRow("zero double %e") << QByteArray("{\"k\":0.0}") << QByteArray("0.000000e+00");
    QTest::newRow("array is empty") << QByteArray("{\"k\":[1]}") << QByteArray();
    QTest::newRow("object is empty") << QByteArray("{\"k\":{}}") << QByteArray();
    QTest::newRow("missing is empty") << QByteArray("{}") << QByteArray();
    QTest::newRow("on an array") << QByteArray("[1]") << QByteArray();
}

void TestJsonDocument::readText() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    CJsonObject d(text.toStdString());
    QCOMPARE(Q(d.ReadText("k")), expected);
}

void TestJsonDocument::failedReadsLeaveOutputAlone() {
    CJsonObject d("{\"s\":\"x\",\"n\":1,\"b\":true}");
    int32_t i32 = 42;
    uint32_t u32 = 42;
    int64_t i64 = 42;
    uint64_t u64 = 42;
    bool b = true;
    float f = 4.5f;
    double dbl = 4.5;
    std::string s = "keep";
    QVERIFY(!d.ReadInt32("s", i32));
    QVERIFY(!d.ReadUint32("b", u32));
    QVERIFY(!d.ReadInt64("missing", i64));
    QVERIFY(!d.ReadUint64("s", u64));
    QVERIFY(!d.ReadBool("n", b));
    QVERIFY(!d.ReadFloat("s", f));
    QVERIFY(!d.ReadDouble("b", dbl));
    QVERIFY(!d.ReadString("n", s));
    QCOMPARE(i32, 42);
    QCOMPARE(u32, 42u);
    QCOMPARE(i64, int64_t(42));
    QCOMPARE(u64, uint64_t(42));
    QCOMPARE(b, true);
    QCOMPARE(f, 4.5f);
    QCOMPARE(dbl, 4.5);
    QCOMPARE(s, std::string("keep"));
}

void TestJsonDocument::readsByIndex() {
    CJsonObject d("[\"s\",-3,2.5,true,null,4294967295,{\"a\":1}]");
    std::string s;
    QVERIFY(d.ReadStringAt(0, s));
    QCOMPARE(s, std::string("s"));
    int32_t i32 = 0;
    QVERIFY(d.ReadInt32At(1, i32));
    QCOMPARE(i32, -3);
    uint32_t u32 = 0;
    QVERIFY(d.ReadUint32At(5, u32));
    QCOMPARE(u32, 4294967295u);
    int64_t i64 = 0;
    QVERIFY(d.ReadInt64At(2, i64));
    QCOMPARE(i64, int64_t(2));
    uint64_t u64 = 0;
    QVERIFY(d.ReadUint64At(5, u64));
    QCOMPARE(u64, uint64_t(4294967295u));
    bool b = false;
    QVERIFY(d.ReadBoolAt(3, b));
    QVERIFY(b);
    float f = 0;
    QVERIFY(d.ReadFloatAt(2, f));
    QCOMPARE(f, 2.5f);
    double dbl = 0;
    QVERIFY(d.ReadDoubleAt(1, dbl));
    QCOMPARE(dbl, -3.0);
    QVERIFY(d.IsNullAt(4));
    QVERIFY(!d.IsNullAt(3));
    QCOMPARE(Q(d.ReadTextAt(1)), QByteArray("-3"));
    QCOMPARE(Q(d.ReadTextAt(2)), QByteArray("2.500000"));
    QCOMPARE(Q(d.ReadTextAt(6)), QByteArray());
    QCOMPARE(Q(d.ReadTextAt(7)), QByteArray());
    QVERIFY(!d.ReadInt32At(7, i32));
    QVERIFY(!d.ReadInt32At(0xFFFFFFFFu, i32));
    QVERIFY(!d.ReadInt32("a", i32));  // by key on an array
    CJsonObject o("{\"a\":1}");
    QVERIFY(!o.ReadInt32At(0, i32));  // by index on an object
    QCOMPARE(i32, -3);
}

void TestJsonDocument::arrayQueries_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isArray");
    QTest::addColumn<int>("size");
    QTest::newRow("object") << QByteArray("{\"a\":1,\"b\":2}") << false << 0;
    QTest::newRow("empty array") << QByteArray("[]") << true << 0;
    QTest::newRow("three") << QByteArray("[1,[2,3],{}]") << true << 3;
    QTest::newRow("string") << QByteArray("\"abc\"") << false << 0;
}

void TestJsonDocument::arrayQueries() {
    QFETCH(QByteArray, text);
    QFETCH(bool, isArray);
    QFETCH(int, size);
    CJsonObject d(text.toStdString());
    QCOMPARE(d.IsArray(), isArray);
    QCOMPARE(d.ArraySize(), size);
}

void TestJsonDocument::memberLookupIgnoresCaseCacheDoesNot() {
    CJsonObject d("{\"Net\":{\"IP\":\"1.2.3.4\"}}");
    CJsonObject& lower = d.Member("net");
    CJsonObject& upper = d.Member("NET");
    QVERIFY(&lower != &upper);            // two cache entries
    QVERIFY(&lower == &d.Member("net"));  // the same entry again
    QCOMPARE(Q(lower.ReadText("ip")), QByteArray("1.2.3.4"));
    QCOMPARE(Q(upper.ReadText("Ip")), QByteArray("1.2.3.4"));
    // Both views see a write made through either of them.
    QVERIFY(lower.PutInt32("Mask", 24));
    int32_t mask = 0;
    QVERIFY(upper.ReadInt32("MASK", mask));
    QCOMPARE(mask, 24);
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"Net\":{\"IP\":\"1.2.3.4\",\"Mask\":24}}"));
    // Only ASCII letters fold: 0xC9 and 0xE9 are different bytes.
    CJsonObject latin("{\"\xC9\":1}");
    QVERIFY(latin.Member("\xE9").IsVoid());
    QVERIFY(!latin.Member("\xC9").IsVoid());
}

void TestJsonDocument::missingMemberIsVoid() {
    CJsonObject d("{\"Net\":{\"IP\":\"1.2.3.4\"}}");
    CJsonObject& p = d.Member("Parameters");
    QVERIFY(p.IsVoid());
    int32_t v = 7;
    QVERIFY(!p.ReadInt32("a", v));
    QCOMPARE(v, 7);
    QCOMPARE(Q(p.ReadText("a")), QByteArray());
    QVERIFY(p.Member("x").IsVoid());
    QVERIFY(p.Element(0).IsVoid());
    QVERIFY(d.Element(0).IsVoid());  // an object has no elements
    QVERIFY(CJsonObject("[1]").Element(0x80000000u).IsVoid());
}

void TestJsonDocument::viewWritesReachTheParent() {
    CJsonObject d("{\"a\":[]}");
    QVERIFY(d.Member("a").AppendInt32(5));
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"a\":[5]}"));
    QVERIFY(d.Member("a").Element(0).IsVoid() == false);
    CJsonObject arr("[{\"x\":1},{\"x\":2}]");
    QVERIFY(arr.Element(1).ReplaceInt32("X", 9));
    QCOMPARE(Q(arr.CompactText()), QByteArray("[{\"x\":1},{\"X\":9}]"));
    QCOMPARE(Q(arr.Element(1).PrettyText()), QByteArray("{\n\t\"X\":\t9\n}"));
}

void TestJsonDocument::voidChildCachedBeforePutStaysDetached() {
    CJsonObject d;
    QVERIFY(d.PutInt32("ProtocolCode", 1));
    CJsonObject& early = d.Member("a");
    QVERIFY(early.IsVoid());
    QVERIFY(d.PutEmptyObject("a"));
    // The typed put leaves the cache alone: the child stays void and builds its own tree.
    QVERIFY(&d.Member("a") == &early);
    QVERIFY(early.PutInt32("b", 2));
    QCOMPARE(Q(early.CompactText()), QByteArray("{\"b\":2}"));
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"ProtocolCode\":1,\"a\":{}}"));
}

void TestJsonDocument::putDocumentDropsTheCachedChild() {
    CJsonObject d("{}");
    QVERIFY(d.Member("a").IsVoid());
    QVERIFY(d.PutDocument("a", CJsonObject("[1]")));
    QVERIFY(!d.Member("a").IsVoid());
    QVERIFY(d.Member("a").AppendInt32(2));
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"a\":[1,2]}"));
}

void TestJsonDocument::appendDocumentDropsTrailingElements() {
    CJsonObject d("[0]");
    CJsonObject& first = d.Element(0);
    QVERIFY(d.Element(1).IsVoid());
    QVERIFY(d.AppendInt32(1));  // typed: the void entry stays
    QVERIFY(d.Element(1).IsVoid());
    QVERIFY(d.Element(2).IsVoid());
    QVERIFY(d.AppendDocument(CJsonObject("\"x\"")));  // drops entries from index 2 on
    QVERIFY(d.Element(1).IsVoid());
    QCOMPARE(Q(d.Element(2).CompactText()), QByteArray("\"x\""));
    QVERIFY(&d.Element(0) == &first);
}

void TestJsonDocument::prependDropsOnlyForDocuments() {
    CJsonObject d("[1,2]");
    QCOMPARE(Q(d.Element(0).CompactText()), QByteArray("1"));
    QVERIFY(d.PrependInt32(0));
    // The typed prepend keeps the cache: entry 0 still views the node that is now second.
    QCOMPARE(Q(d.Element(0).CompactText()), QByteArray("1"));
    QCOMPARE(Q(d.CompactText()), QByteArray("[0,1,2]"));
    QVERIFY(d.PrependDocument(CJsonObject("{}")));
    QCOMPARE(Q(d.Element(0).CompactText()), QByteArray("{}"));
    QCOMPARE(Q(d.Element(1).CompactText()), QByteArray("0"));
}

void TestJsonDocument::replaceAndRemoveDropTheirEntries() {
    CJsonObject d("{\"a\":1,\"b\":{\"c\":2}}");
    QCOMPARE(Q(d.Member("b").CompactText()), QByteArray("{\"c\":2}"));
    QVERIFY(d.ReplaceString("b", "s"));
    QCOMPARE(Q(d.Member("b").CompactText()), QByteArray("\"s\""));
    QVERIFY(d.Member("zz").IsVoid());
    QVERIFY(d.RemoveMember("zz"));  // true with no match
    QVERIFY(d.RemoveMember("A"));
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"b\":\"s\"}"));

    CJsonObject arr("[0,1,2,3]");
    QCOMPARE(Q(arr.Element(0).CompactText()), QByteArray("0"));
    QCOMPARE(Q(arr.Element(2).CompactText()), QByteArray("2"));
    QVERIFY(arr.RemoveAt(1));
    QCOMPARE(Q(arr.Element(0).CompactText()), QByteArray("0"));
    QCOMPARE(Q(arr.Element(1).CompactText()), QByteArray("2"));  // dropped, looked up again
    QVERIFY(arr.RemoveAt(9));
    QVERIFY(arr.ReplaceBoolAt(1, false));
    QCOMPARE(Q(arr.Element(1).CompactText()), QByteArray("false"));
    QCOMPARE(Q(arr.CompactText()), QByteArray("[0,false,3]"));
}

void TestJsonDocument::freeingANodeDropsEveryViewOfIt() {
    // Cached views under other spellings or shifted indexes would point at freed nodes;
    // they are dropped with the node (run under AddressSanitizer to see the difference).
    CJsonObject d("{\"a\":{\"x\":1},\"b\":[1]}");
    QVERIFY(!d.Member("A").IsVoid());
    QVERIFY(d.RemoveMember("a"));
    QVERIFY(d.Member("A").IsVoid());
    QVERIFY(!d.Member("B").IsVoid());
    QVERIFY(d.ReplaceInt32("b", 3));
    QVERIFY(d.Member("B").IsVoid() == false);
    QCOMPARE(Q(d.Member("B").CompactText()), QByteArray("3"));

    CJsonObject arr("[{\"k\":1},2]");
    QCOMPARE(Q(arr.Element(0).CompactText()), QByteArray("{\"k\":1}"));
    QVERIFY(arr.PrependInt32(0));  // entry 0 now views the element at index 1
    QVERIFY(arr.ReplaceNullAt(1));
    QCOMPARE(Q(arr.Element(0).CompactText()), QByteArray("0"));
    QCOMPARE(Q(arr.CompactText()), QByteArray("[0,null,2]"));
}

void TestJsonDocument::resetKeepsTheError() {
    CJsonObject d("{\"a\":1}");
    d.Member("a");
    QVERIFY(!d.AppendInt32(1));
    d.Reset();
    QVERIFY(d.IsVoid());
    QCOMPARE(Q(d.LastError()), QByteArray(kNotArray));
    QVERIFY(d.Member("a").IsVoid());
    QVERIFY(d.AppendInt32(1));
    QCOMPARE(Q(d.CompactText()), QByteArray("[1]"));
}

void TestJsonDocument::documentWritesCopyByText() {
    CJsonObject src("{\"x\":1}");
    CJsonObject d;
    QVERIFY(d.PutDocument("s", src));
    QVERIFY(src.PutInt32("y", 2));  // the copy is independent of its source
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"s\":{\"x\":1}}"));
    // A document written into itself is copied before it changes.
    QVERIFY(d.PutDocument("self", d));
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"s\":{\"x\":1},\"self\":{\"s\":{\"x\":1}}}"));
    QVERIFY(d.ReplaceDocument("s", d.Member("s")));
    QCOMPARE(Q(d.CompactText()), QByteArray("{\"s\":{\"x\":1},\"self\":{\"s\":{\"x\":1}}}"));
    // Integers keep their signedness through the copy.
    CJsonObject n;
    QVERIFY(n.AppendUint64(18446744073709551615ull));
    QVERIFY(n.AppendInt32(-1));
    CJsonObject holder;
    QVERIFY(holder.AppendDocument(n));
    QCOMPARE(Q(holder.CompactText()), QByteArray("[[18446744073709551615,-1]]"));
}

void TestJsonDocument::chainedCalls() {
    CJsonObject cmd;
    QVERIFY(cmd.PutInt32("ProtocolCode", 1022));
    QVERIFY(cmd.PutEmptyObject("Parameters"));
    QVERIFY(cmd.Member("Parameters").PutEmptyArray("ChnId"));
    QVERIFY(cmd.Member("Parameters").Member("ChnId").AppendInt32(1));
    QCOMPARE(Q(cmd.PrettyText()), QByteArray("{\n\t\"ProtocolCode\":\t1022,\n\t\"Parameters\":\t{\n"
                                             "\t\t\"ChnId\":\t[1]\n\t}\n}"));
    CJsonObject reply("{\"Parameters\":[{\"StreamList\":[{\"b\":5},{\"b\":6}]}]}");
    int32_t b = 0;
    QVERIFY(
        reply.Member("Parameters").Element(0).Member("StreamList").Element(1).ReadInt32("b", b));
    QCOMPARE(b, 6);
    QCOMPARE(reply.Member("parameters").Element(0).Member("streamlist").ArraySize(), 2);
}

QTEST_APPLESS_MAIN(TestJsonDocument)
#include "test_json_document.moc"
