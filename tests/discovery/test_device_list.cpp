#include <QtTest>

#include <cstring>
#include <string>

#include "discovery/device_list.h"
#include "discovery/ipv4_address.h"

namespace {

// One reply as a device sends it, with the given members spliced in.
std::string reply(const std::string& ip, const std::string& type, const std::string& version,
                  const std::string& extra = std::string()) {
    return R"({"NetConfig":[{"IpAddr":")" + ip +
           R"(","SubNetMask":"255.255.255.0","GateWay":"198.51.100.254","Mac":"02:00:00:00:00:0a"}],"DeviceType":)" +
           type + R"(,"SoftVersion":")" + version + R"(","UpTime":"0d 01:02:03")" + extra + "}";
}

std::string collected(const std::string& replies) {
    return R"({"ProtocolCode":999,"Parameters":[)" + replies + "]}";
}

// The list is process-wide; each case starts from one known record.
void seed_one() {
    int flag = 0;
    device_list().refill_from_text(collected(reply("198.51.100.99", "307", "seed")).c_str(), flag);
    QCOMPARE(device_list().snapshot().size(), std::size_t(1));
}

}  // namespace

class TestDeviceList : public QObject {
    Q_OBJECT

private slots:
    void nothing_found_keeps_the_list_data();
    void nothing_found_keeps_the_list();
    void records_follow_the_order_of_acceptance();
    void members_are_read_as_text();
    void device_type_data();
    void device_type();
    void missing_members_leave_empty_fields();
    void ipv4_value_data();
    void ipv4_value();
    void only_dotted_addresses_give_records_data();
    void only_dotted_addresses_give_records();
    void copy_field_cuts_on_character_bounds_data();
    void copy_field_cuts_on_character_bounds();
    void long_texts_are_cut_in_records();
    void conflict_and_subnet_marks_data();
    void conflict_and_subnet_marks();
};

void TestDeviceList::nothing_found_keeps_the_list_data() {
    QTest::addColumn<QByteArray>("text");
    // The empty sweep result is 36 characters; an empty object reply stays under 50.
    QTest::newRow("no reply") << QByteArray(R"({"ProtocolCode":999,"Parameters":[]})");
    QTest::newRow("empty reply") << QByteArray(R"({"ProtocolCode":999,"Parameters":[{}]})");
    QTest::newRow("empty text") << QByteArray("");
}

void TestDeviceList::nothing_found_keeps_the_list() {
    QFETCH(QByteArray, text);
    seed_one();
    int flag = 0;
    device_list().refill_from_text(text.constData(), flag);
    QCOMPARE(flag, 1);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(1));
    QCOMPARE(QByteArray(records[0].ip), QByteArray("198.51.100.99"));
}

void TestDeviceList::records_follow_the_order_of_acceptance() {
    seed_one();
    int flag = 0;
    const std::string text =
        collected(reply("198.51.100.20", "1102", "v2") + "," + reply("198.51.100.3", "307", "v1"));
    device_list().refill_from_text(text.c_str(), flag);
    QCOMPARE(flag, 0);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(2));
    QCOMPARE(QByteArray(records[0].ip), QByteArray("198.51.100.20"));
    QCOMPARE(records[0].type, 1102u);
    QCOMPARE(QByteArray(records[1].ip), QByteArray("198.51.100.3"));
    QCOMPARE(records[1].type, 307u);
}

void TestDeviceList::members_are_read_as_text() {
    int flag = 0;
    // Members are matched without regard to case, and numbers are taken as their text.
    const std::string text = collected(
        R"({"netconfig":[{"ipaddr":"198.51.100.7","SubNetMask":"255.255.0.0","GateWay":"198.51.100.1","Mac":"02:11:22:33:44:55"}],"DeviceType":2000,"SoftVersion":12,"UpTime":"5h"})");
    device_list().refill_from_text(text.c_str(), flag);
    QCOMPARE(flag, 0);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(1));
    const Device_Info& d = records[0];
    QCOMPARE(QByteArray(d.ip), QByteArray("198.51.100.7"));
    QCOMPARE(d.type, 2000u);
    QCOMPARE(QByteArray(d.version), QByteArray("12"));
    QCOMPARE(QByteArray(d.mask), QByteArray("255.255.0.0"));
    QCOMPARE(QByteArray(d.gateway), QByteArray("198.51.100.1"));
    QCOMPARE(QByteArray(d.mac), QByteArray("02:11:22:33:44:55"));
    QCOMPARE(QByteArray(d.uptime), QByteArray("5h"));
}

void TestDeviceList::device_type_data() {
    QTest::addColumn<QByteArray>("member");
    QTest::addColumn<uint>("type");
    QTest::newRow("integer") << QByteArray("1200") << 1200u;
    QTest::newRow("fraction cut") << QByteArray("1102.9") << 1102u;
    QTest::newRow("any code") << QByteArray("4242") << 4242u;
    QTest::newRow("string is no number") << QByteArray("\"1102\"") << 0u;
    QTest::newRow("null") << QByteArray("null") << 0u;
    QTest::newRow("low 32 bits") << QByteArray("4294968398") << 1102u;
}

void TestDeviceList::device_type() {
    QFETCH(QByteArray, member);
    QFETCH(uint, type);
    int flag = 0;
    device_list().refill_from_text(
        collected(reply("198.51.100.5", member.toStdString(), "v")).c_str(), flag);
    QCOMPARE(flag, 0);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(1));
    QCOMPARE(records[0].type, type);
}

void TestDeviceList::missing_members_leave_empty_fields() {
    int flag = 0;
    const std::string text = collected(
        R"({"NetConfig":[{"IpAddr":"198.51.100.8"}],"SoftVersion":"only a version","UpTime":"1d"},)"
        R"({"NetConfig":[{"IpAddr":"198.51.100.9"}],"DeviceType":307})");
    device_list().refill_from_text(text.c_str(), flag);
    QCOMPARE(flag, 0);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(2));
    QCOMPARE(QByteArray(records[0].ip), QByteArray("198.51.100.8"));
    QCOMPARE(QByteArray(records[0].mask), QByteArray(""));
    QCOMPARE(QByteArray(records[0].gateway), QByteArray(""));
    QCOMPARE(QByteArray(records[0].mac), QByteArray(""));
    QCOMPARE(records[0].type, 0u);
    QCOMPARE(QByteArray(records[0].version), QByteArray("only a version"));
    QCOMPARE(records[1].type, 307u);
    QCOMPARE(QByteArray(records[1].version), QByteArray(""));
    QCOMPARE(QByteArray(records[1].uptime), QByteArray(""));
}

void TestDeviceList::ipv4_value_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("value");
    QTest::addColumn<QByteArray>("canonical");  // also what a device's record holds
    QTest::newRow("plain") << QByteArray("192.168.1.20") << true << 0xC0A80114u
                           << QByteArray("192.168.1.20");
    QTest::newRow("past 2^31") << QByteArray("192.168.100.200") << true << 0xC0A864C8u
                               << QByteArray("192.168.100.200");
    QTest::newRow("zeros") << QByteArray("0.0.0.0") << true << 0u << QByteArray("0.0.0.0");
    QTest::newRow("top") << QByteArray("255.255.255.255") << true << 0xFFFFFFFFu
                         << QByteArray("255.255.255.255");
    // Decimal, never octal: read as octal these would aim at 198.41.100.8 and 127.0.0.8.
    QTest::newRow("leading zeros")
        << QByteArray("198.051.100.010") << true << 0xC633640Au << QByteArray("198.51.100.10");
    QTest::newRow("loopback with leading zeros")
        << QByteArray("127.000.000.010") << true << 0x7F00000Au << QByteArray("127.0.0.10");
    QTest::newRow("15 characters")
        << QByteArray("001.002.003.004") << true << 0x01020304u << QByteArray("1.2.3.4");
    QTest::newRow("16 characters") << QByteArray("198.51.100.2001") << false << 0u << QByteArray();
    QTest::newRow("part over 255") << QByteArray("1.2.3.256") << false << 0u << QByteArray();
    QTest::newRow("three parts") << QByteArray("1.2.3") << false << 0u << QByteArray();
    QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << false << 0u << QByteArray();
    QTest::newRow("empty part") << QByteArray("1..3.4") << false << 0u << QByteArray();
    QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << false << 0u << QByteArray();
    QTest::newRow("four digits") << QByteArray("1.2.3.0004") << false << 0u << QByteArray();
    QTest::newRow("letters") << QByteArray("a.b.c.d") << false << 0u << QByteArray();
    QTest::newRow("empty") << QByteArray("") << false << 0u << QByteArray();
    QTest::newRow("blank inside") << QByteArray("1.2.3. 4") << false << 0u << QByteArray();
}

void TestDeviceList::ipv4_value() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(uint, value);
    QFETCH(QByteArray, canonical);
    const std::string_view view(text.constData(), std::size_t(text.size()));
    const auto parsed = ::ipv4_value(view);
    QCOMPARE(parsed.has_value(), valid);
    QCOMPARE(QByteArray::fromStdString(canonical_ipv4(view).value_or("")), canonical);
    if (!valid) {
        return;
    }
    QCOMPARE(*parsed, value);
    // Every action and every output takes the record's address.
    int flag = 0;
    device_list().refill_from_text(collected(reply(text.toStdString(), "1102", "v")).c_str(), flag);
    QCOMPARE(flag, 0);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(1));
    QCOMPARE(QByteArray(records[0].ip), canonical);
}

void TestDeviceList::only_dotted_addresses_give_records_data() {
    QTest::addColumn<QByteArray>("odd");  // a reply between two good ones
    auto with_address = [](const char* ip) {
        return QByteArray::fromStdString(reply(ip, "1102", "odd"));
    };
    // Cut to 15 characters this would name the device 198.51.100.200.
    QTest::newRow("16 characters") << with_address("198.51.100.2001");
    QTest::newRow("five parts") << with_address("198.51.100.250.1");
    QTest::newRow("part over 255") << with_address("198.51.100.256");
    QTest::newRow("host name") << with_address("device.example");
    QTest::newRow("empty") << with_address("");
    QTest::newRow("number") << QByteArray(R"({"NetConfig":[{"IpAddr":42}],"DeviceType":1102})");
    QTest::newRow("no NetConfig") << QByteArray(R"({"DeviceType":307,"SoftVersion":"v"})");
}

void TestDeviceList::only_dotted_addresses_give_records() {
    QFETCH(QByteArray, odd);
    int flag = 0;
    const std::string text =
        collected(reply("198.51.100.200", "307", "a") + "," + odd.toStdString() + "," +
                  reply("198.51.100.201", "2000", "b"));
    device_list().refill_from_text(text.c_str(), flag);
    QCOMPARE(flag, 0);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(2));
    QCOMPARE(QByteArray(records[0].ip), QByteArray("198.51.100.200"));
    QCOMPARE(QByteArray(records[1].ip), QByteArray("198.51.100.201"));

    // A sweep whose every reply names no address found nothing: the list stays.
    flag = 0;
    device_list().refill_from_text(collected(odd.toStdString() + "," + odd.toStdString()).c_str(),
                                   flag);
    QCOMPARE(flag, 1);
    QCOMPARE(device_list().snapshot().size(), std::size_t(2));
}

void TestDeviceList::copy_field_cuts_on_character_bounds_data() {
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("fits") << 8 << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("exactly full") << 4 << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("one too long") << 4 << QByteArray("abcd") << QByteArray("abc");
    // "版本" is two 3-byte characters: room for 4 bytes keeps only the first one.
    QTest::newRow("three-byte char split") << 5 << QByteArray("版本") << QByteArray("版");
    QTest::newRow("three-byte char whole") << 7 << QByteArray("版本") << QByteArray("版本");
    QTest::newRow("two-byte char split") << 3 << QByteArray("aé") << QByteArray("a");
    QTest::newRow("four-byte char split") << 4 << QByteArray("\xF0\x9F\x98\x80") << QByteArray("");
    QTest::newRow("empty") << 1 << QByteArray("abc") << QByteArray("");
}

void TestDeviceList::copy_field_cuts_on_character_bounds() {
    QFETCH(int, capacity);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    char field[32];
    std::memset(field, 'X', sizeof field);
    copy_field(field, std::size_t(capacity), std::string_view(text.constData(), text.size()));
    QCOMPARE(QByteArray(field), expected);
    // Nothing past the field was written.
    QCOMPARE(field[capacity], 'X');
}

void TestDeviceList::long_texts_are_cut_in_records() {
    int flag = 0;
    const std::string version(40, 'v');
    const std::string text = collected(
        reply("198.51.100.250", "1102", version, R"(,"UpTime":"ignored, first match wins")"));
    device_list().refill_from_text(text.c_str(), flag);
    const auto records = device_list().snapshot();
    QCOMPARE(records.size(), std::size_t(1));
    QCOMPARE(QByteArray(records[0].ip), QByteArray("198.51.100.250"));
    QCOMPARE(std::strlen(records[0].version), std::size_t(23));
    QCOMPARE(QByteArray(records[0].uptime), QByteArray("0d 01:02:03"));
}

QTEST_APPLESS_MAIN(TestDeviceList)
#include "test_device_list.moc"

// Records that share an address are marked as conflicts (each of them); records outside every
// probed subnet as other subnet, and none when the subnets are not known.
void TestDeviceList::conflict_and_subnet_marks_data() {
    QTest::addColumn<QStringList>("addresses");  // one reply each
    QTest::addColumn<QStringList>("subnets");    // "address/prefix"; "none": not given
    QTest::addColumn<QString>("marks");          // per record: c conflict, o other subnet, - none
    QTest::newRow("one subnet, two devices on one address, one outside")
        << QStringList{"198.51.100.10", "198.51.100.11", "198.51.100.10", "203.0.113.10"}
        << QStringList{"198.51.100.1/24"} << "c-co";
    QTest::newRow("two subnets") << QStringList{"198.51.100.10", "203.0.113.10", "198.19.1.10"}
                                 << QStringList{"198.51.100.1/24", "203.0.113.1/24"} << "--o";
    QTest::newRow("a /22 holds its fourth /24")
        << QStringList{"198.18.3.241", "198.18.4.1"} << QStringList{"198.18.0.1/22"} << "-o";
    QTest::newRow("subnets unknown")
        << QStringList{"198.51.100.10", "203.0.113.10"} << QStringList{"none"} << "--";
}

void TestDeviceList::conflict_and_subnet_marks() {
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, subnets);
    QFETCH(QString, marks);
    std::string replies;
    for (const QString& a : addresses) {
        replies += (replies.empty() ? "" : ",") + reply(a.toStdString(), "1102", "V1");
    }
    std::vector<LocalSubnet> local;
    for (const QString& s : subnets) {
        if (s != QLatin1String("none")) {
            const int prefix = s.section('/', 1).toInt();
            local.push_back({*::ipv4_value(s.section('/', 0, 0).toStdString()),
                             prefix == 0 ? 0u : ~std::uint32_t(0) << (32 - prefix)});
        }
    }
    int flag = 0;
    device_list().refill_from_text(collected(replies).c_str(), flag,
                                   subnets == QStringList{"none"} ? nullptr : &local);
    QString got;
    for (const Device_Info& d : device_list().snapshot()) {
        got += d.conflict ? 'c' : d.other_subnet ? 'o' : '-';
    }
    QCOMPARE(got, marks);
}
