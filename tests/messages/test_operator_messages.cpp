#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include "messages/operator_messages.h"

using corvane::OperatorMessages;

namespace {

struct SeenBox {
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Watches for the next real message box, notes what it shows and presses its OK button.
// Polls, so it works whichever event loop the box runs; gives up after five seconds.
void answerNextRealBox(SeenBox* seen) {
    auto* timer = new QTimer;
    auto* deadline = new QElapsedTimer;
    deadline->start();
    QObject::connect(timer, &QTimer::timeout, [timer, deadline, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && box->isVisible()) {
            seen->seen = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->buttons = box->standardButtons();
            box->button(QMessageBox::Ok)->click();
        } else if (deadline->elapsed() < 5000) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        delete deadline;
    });
    timer->start(10);
}

}  // namespace

class TestOperatorMessages : public QObject {
    Q_OBJECT

private slots:
    void init() { OperatorMessages::reset(); }
    void cleanup() { OperatorMessages::reset(); }

    void queuedAnswersAreReturnedInOrder();
    void aboutBoxRecordsItsParent();
    void queuedFileNameIsReturned();
    void unattendedAnswersWithoutQueue();
    void resetForgetsQueueAndRecord();
    void withoutAnswerTheRealBoxIsShown();
};

void TestOperatorMessages::queuedAnswersAreReturnedInOrder() {
    OperatorMessages::queueAnswer(QMessageBox::Ok);
    OperatorMessages::queueAnswer(QMessageBox::Cancel);
    QCOMPARE(OperatorMessages::pendingAnswers(), 2);

    QCOMPARE(OperatorMessages::information(nullptr, QStringLiteral("提示"),
                                           QStringLiteral("设备重启成功！")),
             QMessageBox::Ok);
    QCOMPARE(OperatorMessages::information(nullptr, QStringLiteral("错误"),
                                           QStringLiteral("本地文件不存在")),
             QMessageBox::Cancel);
    QCOMPARE(OperatorMessages::pendingAnswers(), 0);

    const QList<OperatorMessages::Shown> shown = OperatorMessages::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].kind, OperatorMessages::Kind::Information);
    QCOMPARE(shown[0].title, QStringLiteral("提示"));
    QCOMPARE(shown[0].text, QStringLiteral("设备重启成功！"));
    QVERIFY(!shown[0].has_parent);
    QCOMPARE(shown[1].title, QStringLiteral("错误"));
    QCOMPARE(shown[1].text, QStringLiteral("本地文件不存在"));
    // Taking the record empties it.
    QVERIFY(OperatorMessages::takeShown().isEmpty());
}

void TestOperatorMessages::aboutBoxRecordsItsParent() {
    QWidget window;
    OperatorMessages::queueAnswer(QMessageBox::Ok);
    OperatorMessages::about(&window, QStringLiteral("升级失败0"), QStringLiteral("连接断开"));

    const QList<OperatorMessages::Shown> shown = OperatorMessages::takeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].kind, OperatorMessages::Kind::About);
    QCOMPARE(shown[0].title, QStringLiteral("升级失败0"));
    QCOMPARE(shown[0].text, QStringLiteral("连接断开"));
    QVERIFY(shown[0].has_parent);
}

void TestOperatorMessages::queuedFileNameIsReturned() {
    OperatorMessages::queueFileName(QStringLiteral("/images/IPC_TX_v2.bin"));
    OperatorMessages::queueFileName(QString());  // a cancelled dialog

    QCOMPARE(OperatorMessages::openFileName(), QStringLiteral("/images/IPC_TX_v2.bin"));
    QCOMPARE(OperatorMessages::openFileName(), QString());
    // A file name does not answer a message box: the box queue stayed empty.
    QCOMPARE(OperatorMessages::pendingAnswers(), 0);

    const QList<OperatorMessages::Shown> shown = OperatorMessages::takeShown();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].kind, OperatorMessages::Kind::OpenFile);
    QCOMPARE(shown[1].kind, OperatorMessages::Kind::OpenFile);
}

void TestOperatorMessages::unattendedAnswersWithoutQueue() {
    OperatorMessages::setUnattended(true);
    QCOMPARE(OperatorMessages::information(nullptr, QStringLiteral("配置失败"),
                                           QStringLiteral("IP地址格式错误")),
             QMessageBox::Ok);
    QCOMPARE(OperatorMessages::openFileName(), QString());
    OperatorMessages::about(nullptr, QStringLiteral("升级失败"), QStringLiteral("x"));

    const QList<OperatorMessages::Shown> shown = OperatorMessages::takeShown();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown[0].title, QStringLiteral("配置失败"));
    QCOMPARE(shown[1].kind, OperatorMessages::Kind::OpenFile);
    QCOMPARE(shown[2].kind, OperatorMessages::Kind::About);
}

void TestOperatorMessages::resetForgetsQueueAndRecord() {
    OperatorMessages::queueAnswer(QMessageBox::Ok);
    OperatorMessages::queueFileName(QStringLiteral("a"));
    OperatorMessages::setUnattended(true);
    OperatorMessages::about(nullptr, QStringLiteral("t"), QStringLiteral("x"));
    OperatorMessages::reset();
    QCOMPARE(OperatorMessages::pendingAnswers(), 0);
    QVERIFY(OperatorMessages::takeShown().isEmpty());

    // No longer unattended: the real box comes up (answered here by a watcher).
    SeenBox seen;
    answerNextRealBox(&seen);
    OperatorMessages::information(nullptr, QStringLiteral("提示"), QStringLiteral("y"));
    QVERIFY(seen.seen);
}

void TestOperatorMessages::withoutAnswerTheRealBoxIsShown() {
    SeenBox seen;
    answerNextRealBox(&seen);
    const QMessageBox::StandardButton answer = OperatorMessages::information(
        nullptr, QStringLiteral("提示"), QStringLiteral("获取音频参数失败"));
    QVERIFY(seen.seen);
    QCOMPARE(answer, QMessageBox::Ok);
    QCOMPARE(seen.title, QStringLiteral("提示"));
    QCOMPARE(seen.text, QStringLiteral("获取音频参数失败"));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // A real box is not recorded: the record is only for answered boxes.
    QVERIFY(OperatorMessages::takeShown().isEmpty());
}

QTEST_MAIN(TestOperatorMessages)
#include "test_operator_messages.moc"
