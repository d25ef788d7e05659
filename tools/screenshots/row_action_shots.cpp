#include "tools/screenshots/row_action_shots.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <functional>

#include "messages/operator_messages.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/window_rows.h"
#include "tools/screenshots/shot_support.h"

namespace {

const QString kTx = QStringLiteral("198.51.100.21");
const QString kRx = QStringLiteral("198.51.100.31");

// Right-clicks the row of `address` with the pointer over it; `inMenu` runs once the menu shows.
void rightClick(Base_Frame& window, const QString& address,
                const std::function<void(QMenu&)>& inMenu) {
    QTableWidget* table = tableOf(window);
    const int row = rowOf(window, address);
    table->selectRow(row);
    const QPoint pos = table->visualItemRect(table->item(row, 2)).center();
    const QPoint global = table->viewport()->mapToGlobal(pos);
    QCursor::setPos(global);
    QTest::qWait(200);
    QTimer hand;
    hand.setInterval(50);
    QObject::connect(&hand, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            hand.stop();
            QTest::qWait(300);
            inMenu(*menu);
            menu->close();
        }
    });
    hand.start();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, global);
    QApplication::sendEvent(table->viewport(), &event);
    // The reads run on the window's worker; the menu shows when they are done.
    idleWithin(window, 30000);
}

// The configuration window on screen, once it has painted.
bool savedWindow(const QString& out) {
    QTest::qWait(400);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && !qobject_cast<Base_Frame*>(w) && !qobject_cast<QMenu*>(w)) {
            const bool ok = savePicture(w->grab(), out);
            w->hide();
            return ok;
        }
    }
    QTextStream(stderr) << "no window for " << out << "\n";
    return false;
}

}  // namespace

int shootRowActions(const QString& dir) {
    using corvane::test::Devsim;
    if (!corvane::test::TestNetwork::active()) {
        QTextStream(stderr) << "row-actions searches: run it through scripts/testnet run\n";
        return 1;
    }
    Devsim sim;
    sim.device("ip=" + kTx + ",type=1102,stream0=BitRate:6144/PicQuality:1")
        .device("ip=198.51.100.22,type=1102")
        .device("ip=" + kRx + ",type=307")
        .device("ip=198.51.100.32,type=307")
        .device("ip=198.51.100.41,type=2000");
    if (!sim.start(Devsim::Where::DeviceHost)) {
        QTextStream(stderr) << "simulator: " << sim.errorString() << "\n";
        return 1;
    }
    corvane::OperatorMessages::setUnattended(true);  // a failed read must not stop the run
    Base_Frame window;
    window.move(0, 0);
    window.show();
    QTest::qWait(300);
    window.findChild<QPushButton*>(QStringLiteral("search"))->click();
    idleWithin(window, 30000);
    QTest::qWait(300);

    bool ok = true;
    rightClick(window, kTx, [&](QMenu& menu) {
        // The popup is a window of its own: the picture comes from the screen.
        const QRect area = QRect(window.mapToGlobal(QPoint(0, 0)), QSize(700, 200))
                               .united(menu.geometry().adjusted(-20, -20, 40, 40));
        ok &= savePicture(QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                       area.width(), area.height()),
                          dir + "/menu-tx.png");
        menu.actions().value(0)->trigger();
    });
    ok &= savedWindow(dir + "/row-video.png");
    rightClick(window, kTx, [](QMenu& menu) { menu.actions().value(1)->trigger(); });
    ok &= savedWindow(dir + "/row-tx-audio.png");
    rightClick(window, kRx, [](QMenu& menu) { menu.actions().value(0)->trigger(); });
    ok &= savedWindow(dir + "/row-rx-audio.png");

    QTableWidget* table = tableOf(window);
    const QPoint cell = table->visualItemRect(table->item(rowOf(window, kRx), 1)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
    ok &= savedWindow(dir + "/row-network.png");
    return ok ? 0 : 1;
}
