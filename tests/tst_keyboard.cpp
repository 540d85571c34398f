// The panel from the keyboard: the Tab chain at each height visits only controls the
// operator can see, in tab order; a control out of sight takes no focus and no
// keys; Enter clicks a button as Space does; Space or Enter held on a repeat key
// acts as a held mouse button, and the keyboard's own repeats add nothing.

#include "PanelHarness.h"
#include "TestSupport.h"

#include <QApplication>

namespace {

// Every control that can take the focus, in tab-index order.
const QStringList kFullOrder = {
    "Command17", "Command1",  "Command2",  "Command3",  "Command5",  "Command6",  "Command7",  "Command8",
    "Command9",  "Command13", "Command14", "Command16", "Command18", "Command19", "Command20", "Command21",
    "Command22", "Command23", "Command24", "Command25", "Command26", "Command27", "Command28", "Command29",
    "Command31", "Command32", "Command33", "Option1",   "Option2",   "Command34", "Command15", "Command35",
    "Command44", "Command45", "Command46", "Command47", "Command48", "Command49", "Command50", "Command51",
    "Command54", "Command56", "Command57", "Command58", "Command30", "Option9",   "Option10",  "Command4",
    "Command10", "Command11", "Command39", "Command40", "Command41", "Command42", "Command64", "Command65",
    "Command66", "Command69", "Command72", "Command73", "Command74", "Command76", "Command81", "Command82",
    "Text1",     "Command95", "Command96", "Command97", "Command98", "Command53", "Command60", "Command61",
    "Command63", "Command67", "Command12", "Command36", "Command37", "Command38", "Command43",
};

// The compact window: the main band only.
const QStringList kCompactChain = {
    "Command17", "Command1",  "Command2",  "Command3",  "Command5",  "Command6",  "Command7",  "Command8",
    "Command9",  "Command13", "Command14", "Command16", "Command18", "Command19", "Command20", "Command21",
    "Command22", "Command23", "Command24", "Command25", "Command26", "Command27", "Command28", "Command29",
    "Command31", "Command32", "Command33", "Command15", "Command35", "Command48", "Command49", "Command50",
    "Command51", "Command56", "Command57", "Command58", "Command30", "Command4",  "Command10", "Command11",
    "Command39", "Command40", "Command41", "Command42", "Command12", "Command36", "Command37", "Command38",
    "Command43",
};

void activate(Panel &p)
{
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
}

// Steps as the operator takes them: H = Ctrl+H, D = double-click on the word mark,
// B = click on the data button.
void run(Panel &p, const QString &steps)
{
    activate(p);
    for (const QChar s : steps) {
        if (s == u'H')
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
        else if (s == u'D')
            QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        else
            p.click("Command34");
    }
}

bool whollyInside(const Panel &p, const QWidget *w)
{
    for (; w != p.form.get(); w = w->parentWidget())
        if (!w->parentWidget()->rect().contains(w->geometry()))
            return false;
    return true;
}

// The controls Tab visits, from Command17 round to it again.
QStringList tabStopsVisited(Panel &p)
{
    QWidget *first = p.w("Command17");
    first->setFocus(Qt::TabFocusReason);
    QStringList chain;
    for (int i = 0; i < 200 && (chain.isEmpty() || QApplication::focusWidget() != first); ++i) {
        chain << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return chain;
}

struct KeySweep {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
};

void autoRepeat(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods)
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent e(type, key, mods, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"), true);
        QApplication::sendEvent(w, &e);
    }
}

} // namespace

class TstKeyboard : public QObject {
    Q_OBJECT
private slots:
    // steps: how the height was reached; titleBar: a title bar to pretend (0: the
    // platform's own frame).
    void tabChain_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("titleBar");
        for (int titleBar : {0, 60}) {
            const char *frame = titleBar ? "60 px title bar" : "platform frame";
            QTest::addRow("compact at start, %s", frame) << "" << titleBar;
            QTest::addRow("compact after the data button, %s", frame) << "HB" << titleBar;
            QTest::addRow("data, %s", frame) << "HBB" << titleBar;
            QTest::addRow("service, %s", frame) << "H" << titleBar;
            QTest::addRow("full, %s", frame) << "HD" << titleBar;
        }
    }
    void tabChain()
    {
        QFETCH(QString, steps);
        QFETCH(int, titleBar);
        Panel p(true, false);
        if (titleBar)
            p.runtime.frame = QMargins(1, titleBar, 1, 1);
        p.form->show();
        run(p, steps);
        const QStringList chain = tabStopsVisited(p);

        if (steps.isEmpty()) {
            QCOMPARE(chain, kCompactChain);
        } else if (steps == QLatin1String("HB")) {
            // Below the compact window's edge the data button stays a tab stop: the
            // keyboard's only way to the data height.
            QStringList expected = kCompactChain;
            expected.insert(expected.indexOf(QStringLiteral("Command33")) + 1, QStringLiteral("Command34"));
            QCOMPARE(chain, expected);
        }
        // In tab order, and every control in sight is in the chain, no other.
        qsizetype at = 0;
        for (const QString &name : chain) {
            at = kFullOrder.indexOf(name, at);
            QVERIFY2(at >= 0, qPrintable(name + QStringLiteral(" out of order")));
        }
        for (const QString &name : kFullOrder) {
            const QWidget *w = p.form->control(name);
            const bool inSight = w->isVisible() && whollyInside(p, w);
            if (name != QLatin1String("Command34"))
                QVERIFY2(chain.contains(name) == inSight, qPrintable(name));
        }
        const bool dataBand = steps != QLatin1String("") && steps != QLatin1String("HB");
        QCOMPARE(chain.contains(QStringLiteral("Command44")), dataBand);
        QCOMPARE(chain.contains(QStringLiteral("Text1")), steps == QLatin1String("HD"));
    }

    // In the compact window the controls below its edge take no focus, and keys
    // that reach them all the same do nothing.
    void keysOutOfSightDoNothing_data()
    {
        QTest::addColumn<QString>("control");
        for (const char *name : {"Command44", "Command54", "Command64", "Command97", "Command60", "Command95"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void keysOutOfSightDoNothing()
    {
        QFETCH(QString, control);
        Panel p;
        activate(p);
        QWidget *w = p.form->control(control);
        QCOMPARE(w->focusPolicy(), Qt::NoFocus);
        QCOMPARE(p.w("Text1")->focusPolicy(), Qt::NoFocus);
        for (const KeySweep &k : {KeySweep{Qt::Key_Space, {}}, {Qt::Key_Return, {}}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
            QTest::keyClick(w, k.key, k.mods);
            QTest::keyPress(w, k.key, k.mods);
            QTest::keyRelease(w, k.key, k.mods);
        }
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.form->outerHeightTwips(), 5350);
    }

    // The focused control dropping out of sight (the full window made lower) hands
    // the focus to the first key.
    void focusLeavesAControlThatDropsOutOfSight()
    {
        Panel p;
        run(p, QStringLiteral("HD"));
        p.w("Command97")->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), p.w("Command97"));
        run(p, QStringLiteral("H"));
        QCOMPARE(QApplication::focusWidget(), p.w("Command17"));
        QCOMPARE(p.takeWritten(), QByteArray());
    }

    // Space, Enter and keypad Enter on one one-shot key and one repeat key of each
    // kind, with the keyboard's own repeats in between: one command for the tap;
    // a repeat key repeats on its timer while the key is down and stops on release.
    void enterAndSpace_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("repeats");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        struct Row {
            const char *control, *label, *wire;
            bool repeats;
        };
        const Row rows[] = {
            {"Command17", "POWER ON", "C00\r", false},
            {"Command1", "VOL +", "C09\r", true},
            {"Command5", "up", "C3C\r", true},
            {"Command48", "D.Zoom +", "C30\r", true},
        };
        for (const Row &r : rows) {
            QTest::addRow("%s %s, Space", r.control, r.label)
                << r.control << QByteArray(r.wire) << r.repeats << int(Qt::Key_Space) << 0;
            QTest::addRow("%s %s, Return", r.control, r.label)
                << r.control << QByteArray(r.wire) << r.repeats << int(Qt::Key_Return) << 0;
            QTest::addRow("%s %s, keypad Enter", r.control, r.label)
                << r.control << QByteArray(r.wire) << r.repeats << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        }
    }
    void enterAndSpace()
    {
        QFETCH(QString, control);
        QFETCH(QByteArray, wire);
        QFETCH(bool, repeats);
        QFETCH(int, key);
        QFETCH(int, mods);
        const auto k = Qt::Key(key);
        const auto m = Qt::KeyboardModifiers(mods);
        Panel p;
        activate(p);
        PanelButton *b = p.button(qPrintable(control));
        b->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), b);

        QTest::keyPress(b, k, m);
        // A one-shot button goes off as Enter goes down, or as Space comes up.
        const bool atPress = repeats || k != Qt::Key_Space;
        QCOMPARE(p.takeWritten(), atPress ? wire : QByteArray());
        autoRepeat(b, k, m);
        autoRepeat(b, k, m);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.form->engine().repeatTimer.isActive(), repeats);
        tick(p.form->engine().repeatTimer);
        QCOMPARE(p.takeWritten(), repeats ? wire : QByteArray());
        QTest::keyRelease(b, k, m);
        QCOMPARE(p.takeWritten(), atPress ? QByteArray() : wire);
        QCOMPARE(p.state().repeatCode, quint8(0));
        QVERIFY(!p.form->engine().repeatTimer.isActive());
        QVERIFY(!b->isHeld());
        tick(p.form->engine().repeatTimer);
        QCOMPARE(p.takeWritten(), QByteArray());
        if (control == QLatin1String("Command48")) {
            QCOMPARE(int(p.state().keyMode), 3);
            QCOMPARE(p.form->engine().repeatTimer.interval(), 5);
        }
    }

    // The keyboard's own repeats do not restart the repeat timer.
    void autoRepeatKeepsTheTimerRunning()
    {
        Panel p;
        activate(p);
        p.form->engine().repeatTimer.setInterval(60000);  // the arrows repeat at the interval left
        PanelButton *up = p.button("Command5");
        up->setFocus(Qt::TabFocusReason);
        QTest::keyPress(up, Qt::Key_Space);
        QVERIFY(p.form->engine().repeatTimer.isActive());
        QTest::qWait(50);
        const int before = p.form->engine().repeatTimer.remainingTime();
        QVERIFY(before < 60000);
        autoRepeat(up, Qt::Key_Space, {});
        QVERIFY(p.form->engine().repeatTimer.remainingTime() <= before);
        QCOMPARE(p.takeWritten(), QByteArray("C3C\r"));
        QTest::keyRelease(up, Qt::Key_Space);
    }

    // Space held on a repeat key ends like a mouse hold whose release cannot come:
    // when the focus moves away, the window is hidden or another window is activated.
    // The keyboard's repeats that follow and the late release send nothing.
    void spaceHoldEndsWithoutItsRelease_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"focus moved", "hidden", "deactivated"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void spaceHoldEndsWithoutItsRelease()
    {
        QFETCH(QString, how);
        Panel p;
        QWidget other;
        other.resize(200, 100);
        activate(p);
        PanelButton *vol = p.button("Command1");
        vol->setFocus(Qt::TabFocusReason);
        QTest::keyPress(vol, Qt::Key_Space);
        QCOMPARE(p.takeWritten(), QByteArray("C09\r"));
        QVERIFY(p.form->engine().repeatTimer.isActive());
        if (how == QLatin1String("focus moved")) {
            p.w("Command18")->setFocus(Qt::TabFocusReason);
        } else if (how == QLatin1String("hidden")) {
            p.form->hide();
        } else {
            other.show();
            QApplication::setActiveWindow(&other);
        }
        QVERIFY(!vol->isHeld());
        QCOMPARE(p.state().repeatCode, quint8(0));
        QVERIFY(!p.form->engine().repeatTimer.isActive());
        autoRepeat(vol, Qt::Key_Space, {});  // the key still down does not press again
        tick(p.form->engine().repeatTimer);
        QTest::keyRelease(vol, Qt::Key_Space);
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstKeyboard)
#include "tst_keyboard.moc"
