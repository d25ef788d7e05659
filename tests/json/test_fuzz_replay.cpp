// Every input kept for the JSON round-trip fuzz target, its seeds (fuzz/corpus) and what runs of
// make fuzz found (fuzz/findings), through the target once more with the ordinary compiler and,
// in make test-sanitize, the sanitizers: a fault once found stays fixed. The target aborts with
// both texts when a round trip fails.
#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

class TestFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void seedsPresent() {
        QVERIFY2(!QDir(QStringLiteral(CORVANE_FUZZ_SEEDS)).entryList(QDir::Files).isEmpty(),
                 CORVANE_FUZZ_SEEDS);
    }

    void inputs_data() {
        QTest::addColumn<QString>("path");
        for (const char* folder : {CORVANE_FUZZ_SEEDS, CORVANE_FUZZ_FINDINGS}) {
            const QDir dir(QString::fromUtf8(folder));
            for (const QFileInfo& input : dir.entryInfoList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(dir.dirName() + '/' + input.fileName()))
                    << input.filePath();
            }
        }
    }

    void inputs() {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                        std::size_t(bytes.size())),
                 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "test_fuzz_replay.moc"
