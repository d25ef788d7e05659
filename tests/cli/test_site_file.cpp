// The settings file read back and refused, the comparison of two records, and the addresses
// a unicast sweep may probe: texts and values only, nothing sent.
#include <QtTest>

#include "cli/site_file.h"
#include "discovery/address_range.h"
#include "discovery/ipv4_address.h"

using namespace corvane::cli;

namespace {

// A record of two devices in the file's form; `device` replaces the text of the second.
std::string siteWith(const std::string& head, const std::string& device) {
    return head +
           R"("written":"2026-12-08T22:00:00Z","tool":"corvane-cli 2.1","devices":[
{"mac":"02:43:56:33:64:0a","kind":"TX","type":1102,"firmware":"V3","address":"198.51.100.10",
 "mask":"255.255.255.0","gateway":"198.51.100.1","settings":{"streams":[{"EncodeMode":0,
 "PicQuality":1,"BitRate":4096,"BitRateType":0,"FrameRate":30,"ImageSize":25,
 "ImageSizeAdapt":0,"IFrameInterval":60,"Profile":1}],"customSize":{"width":1000,
 "height":500},"audioIn":1}},)" +
           device + "]}";
}

const std::string kHead = R"({"format":"corvane-site-settings","version":1,)";
const std::string kRx =
    R"({"mac":"02:43:56:33:64:0B","kind":"RX","type":307,"firmware":"V2","address":"198.51.100.11","mask":"255.255.255.0","gateway":"198.51.100.1","settings":{"audioOut":2}})";

QString lines(const std::vector<SiteDifference>& differences) {
    QStringList out;
    for (const SiteDifference& d : differences) {
        out << QString::fromStdString(differenceLine(d));
    }
    return out.join('\n');
}

}  // namespace

class TestSiteFile : public QObject {
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void writtenReadsBack();
    void compare_data();
    void compare();
    void addresses_data();
    void addresses();
};

void TestSiteFile::read_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");  // empty: read

    QTest::newRow("whole") << QByteArray::fromStdString(siteWith(kHead, kRx)) << "";
    QTest::newRow("cut short") << QByteArray::fromStdString(siteWith(kHead, kRx)).chopped(3)
                               << "not a JSON object";
    QTest::newRow("another format")
        << QByteArray::fromStdString(siteWith(R"({"format":"x","version":1,)", kRx))
        << "not a settings file";
    QTest::newRow("a later version")
        << QByteArray::fromStdString(
               siteWith(R"({"format":"corvane-site-settings","version":2,)", kRx))
        << "format version 2; this tool reads only 1";
    QTest::newRow("the same MAC twice, in another case")
        << QByteArray::fromStdString(siteWith(
               kHead,
               R"({"mac":"02:43:56:33:64:0A","kind":"TX","type":1102,"firmware":"V3","address":"198.51.100.12","mask":"m","gateway":"g","settings":{}})"))
        << "device 2: MAC 02:43:56:33:64:0A is listed twice";
    QTest::newRow("a value not a number")
        << QByteArray::fromStdString(siteWith(
               kHead,
               R"({"mac":"02:43:56:33:64:0C","kind":"RX","type":307,"firmware":"V2","address":"a","mask":"m","gateway":"g","settings":{"audioOut":"2"}})"))
        << "device 2: \"audioOut\" is missing or not a whole number";
    QTest::newRow("no MAC")
        << QByteArray::fromStdString(siteWith(
               kHead,
               R"({"mac":"02:43:56","kind":"RX","type":307,"firmware":"V2","address":"a","mask":"m","gateway":"g","settings":{}})"))
        << "device 2: \"mac\" is not a MAC address";
    QTest::newRow("a stream without a member")
        << QByteArray::fromStdString(siteWith(kHead, kRx)).replace("\"Profile\":1", "\"P\":1")
        << "device 1 stream 1: \"Profile\" is missing";
}

void TestSiteFile::read() {
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const SiteRead read = readSite(text.toStdString());
    QCOMPARE(QString::fromStdString(read.error).left(error.size()), error);
    QCOMPARE(read.record.has_value(), error.isEmpty());
}

// What siteText writes, readSite gives back whole, MACs in upper case.
void TestSiteFile::writtenReadsBack() {
    const SiteRecord record = *readSite(siteWith(kHead, kRx)).record;
    QCOMPARE(record.devices[0].mac, std::string("02:43:56:33:64:0A"));
    const SiteRead again = readSite(siteText(record));
    QVERIFY2(again.record, again.error.c_str());
    QCOMPARE(siteText(*again.record), siteText(record));
    const DeviceSettings& tx = again.record->devices[0];
    QCOMPARE(tx.streams.size(), std::size_t(1));
    QCOMPARE(tx.streams[0].bit_rate, 4096);
    QCOMPARE(tx.streams[0].iframe_interval, 60);
    QCOMPARE(*tx.custom_size, (std::array<std::int32_t, 2>{1000, 500}));
    QCOMPARE(*tx.audio_in, 1);
    QCOMPARE(*again.record->devices[1].audio_out, 2);
}

void TestSiteFile::compare_data() {
    QTest::addColumn<QString>("from");  // replaced in the file: "old=new;old=new"
    QTest::addColumn<QString>("differences");

    QTest::newRow("the same") << ""
                              << "";
    QTest::newRow("settings changed")
        << "\"BitRate\":4096=\"BitRate\":8192;\"audioOut\":2=\"audioOut\":1"
        << "~ 02:43:56:33:64:0A 198.51.100.10 stream 1 BitRate: 4096 -> 8192\n"
           "~ 02:43:56:33:64:0B 198.51.100.11 audio-out: 2 -> 1";
    QTest::newRow("custom size compared while used")
        << "\"width\":1000=\"width\":1280"
        << "~ 02:43:56:33:64:0A 198.51.100.10 custom size: 1000x500 -> 1280x500";
    QTest::newRow("custom size left alone when not used")
        << "\"width\":1000=\"width\":1280;\"ImageSize\":25=\"ImageSize\":22"
        << "~ 02:43:56:33:64:0A 198.51.100.10 stream 1 ImageSize: 25 -> 22";
    // A file's texts reach the terminal with their control characters shown as '?'.
    QTest::newRow("network and firmware")
        << "\"198.51.100.11\"=\"198.51.100.21\\u001b[2J\";\"V3\"=\"V4\""
        << "~ 02:43:56:33:64:0A 198.51.100.10 firmware: V3 -> V4\n"
           "~ 02:43:56:33:64:0B 198.51.100.21?[2J address: 198.51.100.11 -> 198.51.100.21?[2J";
    QTest::newRow("a device replaced")
        << "64:0B=64:0C"
        << "- 02:43:56:33:64:0B 198.51.100.11\n+ 02:43:56:33:64:0C 198.51.100.11";
}

void TestSiteFile::compare() {
    QFETCH(QString, from);
    QFETCH(QString, differences);
    QString now = QString::fromStdString(siteWith(kHead, kRx));
    for (const QString& change : from.split(';', Qt::SkipEmptyParts)) {
        now.replace(change.section('=', 0, 0), change.section('=', 1));
    }
    const SiteRead before = readSite(siteWith(kHead, kRx));
    const SiteRead after = readSite(now.toStdString());
    QVERIFY2(after.record, after.error.c_str());
    QCOMPARE(lines(compareSites(*before.record, *after.record)), differences);
}

void TestSiteFile::addresses_data() {
    QTest::addColumn<QStringList>("ranges");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QString>("first");  // the first and last address probed, and how many
    QTest::addColumn<QString>("error");

    QTest::newRow("a /24 without its ends")
        << QStringList{"198.51.100.0/24"} << QStringList{} << "198.51.100.1..198.51.100.254 254"
        << "";
    QTest::newRow("a /31 and a /32 whole") << QStringList{"198.51.100.6/31", "198.51.100.9/32"}
                                           << QStringList{} << "198.51.100.6..198.51.100.9 3"
                                           << "";
    QTest::newRow("overlaps probed once")
        << QStringList{"198.51.100.0/30", "198.51.100.0/29"} << QStringList{"198.51.100.2"}
        << "198.51.100.1..198.51.100.6 6"
        << "";
    QTest::newRow("a /16 in all") << QStringList{"198.18.0.0/17", "198.18.128.0/17"}
                                  << QStringList{"203.0.113.5"} << "198.18.0.1..203.0.113.5 65533"
                                  << "";
    QTest::newRow("over a /16 in all")
        << QStringList{"198.18.0.0/16", "198.19.0.0/29"} << QStringList{} << ""
        << "more than 65536";
    QTest::newRow("a /8") << QStringList{"10.0.0.0/8"} << QStringList{} << ""
                          << "10.0.0.0/8 is larger than a /16";
    QTest::newRow("host bits") << QStringList{"198.51.100.1/24"} << QStringList{} << ""
                               << "198.51.100.1/24 has host bits set";
    QTest::newRow("no prefix") << QStringList{"198.51.100.0"} << QStringList{} << ""
                               << "'198.51.100.0' is not a range";
    QTest::newRow("prefix 33") << QStringList{"198.51.100.0/33"} << QStringList{} << ""
                               << "'198.51.100.0/33' is not a range";
    QTest::newRow("multicast") << QStringList{"224.0.0.0/24"} << QStringList{} << ""
                               << "224.0.0.0/24 reaches 224.0.0.1, which is no device";
    QTest::newRow("limited broadcast") << QStringList{} << QStringList{"255.255.255.255"} << ""
                                       << "255.255.255.255 reaches";
    QTest::newRow("this network") << QStringList{} << QStringList{"0.1.2.3"} << ""
                                  << "0.1.2.3 reaches";
}

void TestSiteFile::addresses() {
    QFETCH(QStringList, ranges);
    QFETCH(QStringList, targets);
    QFETCH(QString, first);
    QFETCH(QString, error);
    std::vector<std::string> r, t;
    for (const QString& s : ranges) {
        r.push_back(s.toStdString());
    }
    for (const QString& s : targets) {
        t.push_back(s.toStdString());
    }
    const AddressPlan plan = plan_addresses(r, t);
    QCOMPARE(QString::fromStdString(plan.error).left(error.size()), error);
    QCOMPARE(plan.error.empty(), error.isEmpty());
    if (error.isEmpty()) {
        QCOMPARE(QString::fromStdString(ipv4_text(plan.addresses.front()) + ".." +
                                        ipv4_text(plan.addresses.back()) + " " +
                                        std::to_string(plan.addresses.size())),
                 first);
    } else {
        QVERIFY(plan.addresses.empty());
    }
}

QTEST_GUILESS_MAIN(TestSiteFile)
#include "test_site_file.moc"
