#include <QtTest>

#include <cstring>

#include "discovery/device_order.h"

namespace {

Device_Info record(const char* ip) {
    Device_Info d{};
    copy_field(d.ip, ip);
    return d;
}

}  // namespace

class TestDeviceOrder : public QObject {
    Q_OBJECT

private slots:
    void order_data();
    void order();
    void groups_data();
    void groups();
    void tableOrder();
};

void TestDeviceOrder::order_data() {
    QTest::addColumn<QStringList>("in");
    QTest::addColumn<QStringList>("out");
    QTest::newRow("last part") << QStringList{"192.168.1.100", "192.168.1.20", "192.168.1.3"}
                               << QStringList{"192.168.1.3", "192.168.1.20", "192.168.1.100"};
    // Read as one number without its dots, .2.1 would come before .1.20, and every address
    // past 2^31 would not fit.
    QTest::newRow("third part counts first")
        << QStringList{"192.168.2.1", "192.168.1.20"} << QStringList{"192.168.1.20", "192.168.2.1"};
    QTest::newRow("large addresses") << QStringList{"192.168.100.200", "192.168.1.5", "10.0.0.1"}
                                     << QStringList{"10.0.0.1", "192.168.1.5", "192.168.100.200"};
    QTest::newRow("non-addresses first, in order") << QStringList{"1.1.1.1", "", "zz", "0.0.0.1"}
                                                   << QStringList{"", "zz", "0.0.0.1", "1.1.1.1"};
    QTest::newRow("equal stay in order") << QStringList{"5.5.5.5", "1.1.1.1", "5.5.5.5"}
                                         << QStringList{"1.1.1.1", "5.5.5.5", "5.5.5.5"};
}

void TestDeviceOrder::order() {
    QFETCH(QStringList, in);
    QFETCH(QStringList, out);
    std::vector<Device_Info> records;
    for (int i = 0; i < in.size(); ++i) {
        records.push_back(record(in[i].toLatin1().constData()));
        records.back().type = std::uint32_t(i);  // tells equal addresses apart
    }
    order_by_address(records);
    QStringList got;
    for (const auto& d : records) {
        got << QString::fromLatin1(d.ip);
    }
    QCOMPARE(got, out);
    if (QTest::currentDataTag() == QByteArray("equal stay in order")) {
        QCOMPARE(records[1].type, 0u);
        QCOMPARE(records[2].type, 2u);
    }
}

void TestDeviceOrder::groups_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<int>("group");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("1102") << 1102u << int(DeviceGroup::TX) << QByteArray("TX");
    QTest::newRow("1200") << 1200u << int(DeviceGroup::TX) << QByteArray("TX");
    QTest::newRow("307") << 307u << int(DeviceGroup::RX) << QByteArray("RX");
    QTest::newRow("2000") << 2000u << int(DeviceGroup::KVM_RX) << QByteArray("KVM_RX");
    QTest::newRow("0") << 0u << int(DeviceGroup::Other) << QByteArray("");
    QTest::newRow("4242") << 4242u << int(DeviceGroup::Other) << QByteArray("");
}

void TestDeviceOrder::groups() {
    QFETCH(uint, type);
    QFETCH(int, group);
    QFETCH(QByteArray, name);
    QCOMPARE(int(device_group(type)), group);
    QCOMPARE(QByteArray(group_name(device_group(type))), name);
    QCOMPARE(QByteArray::fromStdString(kind_text(type)),
             name.isEmpty() ? QByteArray::number(type) : name);
}

// Groups in row order, each by address, whatever the order of discovery.
void TestDeviceOrder::tableOrder() {
    const std::pair<const char*, std::uint32_t> found[] = {
        {"192.168.1.100", 2000}, {"192.168.1.3", 307},  {"10.0.0.9", 4242},
        {"192.168.1.20", 1102},  {"192.168.1.2", 1200}, {"192.168.1.1", 307}};
    std::vector<Device_Info> records;
    for (const auto& [ip, type] : found) {
        records.push_back(record(ip));
        records.back().type = type;
    }
    order_for_table(records);
    QStringList got;
    for (const auto& d : records) {
        got << QString::fromLatin1(d.ip);
    }
    QCOMPARE(got, (QStringList{"192.168.1.2", "192.168.1.20", "192.168.1.1", "192.168.1.3",
                               "192.168.1.100", "10.0.0.9"}));
}

QTEST_APPLESS_MAIN(TestDeviceOrder)
#include "test_device_order.moc"
