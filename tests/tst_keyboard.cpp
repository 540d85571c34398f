// The panel from the keyboard and the mouse: keys reach only controls in sight;
// Enter clicks as Space does; Space, Enter or any mouse button held on a repeat key
// holds it, the keyboard's own repeats and a second button add nothing, and a hold
// whose release cannot come ends as on a release.

#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

#include <QApplication>

namespace {

const KeyRow &kVolUp = kKeys[0];

void focusOn(Panel &p, const char *name)
{
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    p.w(name)->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), p.w(name));
}

void sendKey(QWidget *w, QEvent::Type type, int key, bool autoRepeat = false)
{
    QKeyEvent e(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"), autoRepeat);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TstKeyboard : public QObject {
    Q_OBJECT
private slots:
    // A button below the compact window's edge takes no focus; keys sent to it all
    // the same do nothing, Ctrl+H included (it is not the focused control's key).
    void keysOutOfSightDoNothing()
    {
        Panel p;
        focusOn(p, "Command17");
        QWidget *w = p.w("Command44");
        QCOMPARE(w->focusPolicy(), Qt::NoFocus);
        QTest::keyClick(w, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.form->outerHeightTwips(), 5350);
        // Nor does the button keep them: they go on to the window. So do the keys a
        // held key (in focus) has no use for: a key it does not take, a release
        // of a key that holds nothing.
        const struct {
            const char *control;
            QEvent::Type type;
            int key;
        } passedOn[] = {
            {"Command44", QEvent::KeyPress, Qt::Key_Return}, {"Command44", QEvent::KeyRelease, Qt::Key_Return},
            {"Command1", QEvent::KeyPress, Qt::Key_Up},      {"Command1", QEvent::KeyRelease, Qt::Key_Space},
        };
        for (const auto &[control, type, key] : passedOn) {
            QKeyEvent event(type, key, Qt::NoModifier);
            static_cast<QObject *>(p.w(control))->event(&event);
            QVERIFY2(!event.isAccepted(), qPrintable(QStringLiteral("%1, key %2, event %3").arg(control).arg(key).arg(int(type))));
        }
        QCOMPARE(p.takeWritten(), QByteArray());
    }

    // A one-shot button goes off as Enter goes down or as Space comes up; a repeat
    // key is held from the press to the release. Auto-repeats in between add nothing.
    void enterAndSpace_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::newRow("ON, Space") << "Command17" << int(Qt::Key_Space);
        QTest::newRow("ON, Return") << "Command17" << int(Qt::Key_Return);
        QTest::newRow("ON, keypad Enter") << "Command17" << int(Qt::Key_Enter);
        QTest::newRow("VOL +, Space") << "Command1" << int(Qt::Key_Space);
        QTest::newRow("VOL +, keypad Enter") << "Command1" << int(Qt::Key_Enter);
    }
    void enterAndSpace()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        const bool repeats = control == QLatin1String("Command1");
        const QByteArray wire = repeats ? "C09\r" : "C00\r";
        const bool atPress = repeats || key != Qt::Key_Space;
        Panel p;
        focusOn(p, qPrintable(control));
        QWidget *b = p.w(qPrintable(control));
        sendKey(b, QEvent::KeyPress, key);
        QCOMPARE(p.takeWritten(), atPress ? wire : QByteArray());
        sendKey(b, QEvent::KeyRelease, key, true);
        sendKey(b, QEvent::KeyPress, key, true);
        QCOMPARE(p.takeWritten(), QByteArray());
        tick(p.exchange().repeatTimer);
        QCOMPARE(p.takeWritten(), repeats ? wire : QByteArray());
        sendKey(b, QEvent::KeyRelease, key);
        QCOMPARE(p.takeWritten(), atPress ? QByteArray() : wire);
        QVERIFY(!p.exchange().repeatTimer.isActive());
    }

    // A second activation key while the first holds a repeat key adds no press; the
    // first key's release ends the hold.
    void secondKeyWhileHeld()
    {
        Panel p;
        focusOn(p, "Command1");
        QWidget *b = p.w("Command1");
        const QImage up = b->grab().toImage();
        sendKey(b, QEvent::KeyPress, Qt::Key_Space);
        QCOMPARE(p.takeWritten(), QByteArray("C09\r"));
        QVERIFY(b->grab().toImage() != up);  // drawn pressed while the key holds it
        sendKey(b, QEvent::KeyPress, Qt::Key_Return);
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(p.exchange().repeatTimer.interval(), 250);
        sendKey(b, QEvent::KeyRelease, Qt::Key_Return);
        QVERIFY(p.exchange().repeatTimer.isActive());
        sendKey(b, QEvent::KeyRelease, Qt::Key_Space);
        QVERIFY(!p.exchange().repeatTimer.isActive());
        QCOMPARE(p.takeWritten(), QByteArray());
        QCOMPARE(b->grab().toImage(), up);
    }

    // Held by the right button, then the left goes down too and the right comes up
    // first: the key is let go only when the last button comes up. Held again, it
    // sends as at first.
    void secondButton()
    {
        Panel p;
        p.press("Command1", Qt::RightButton);
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        p.press("Command1", Qt::LeftButton);
        p.release("Command1", Qt::RightButton);
        tick(p.exchange().repeatTimer);
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        p.release("Command1", Qt::LeftButton);
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, kVolUp, 250, 0);
        p.press("Command1");
        QCOMPARE(p.takeWritten(), wire(kVolUp));
    }

    // Hidden while another window is active (no deactivation comes with it), another
    // window activated, a warning box opening (a port that cannot be opened), or
    // held by the space bar, the focus moving on (the key's release goes there): the
    // hold ends. What reaches the window while it stays the active one (its
    // activation told again, a new palette from the desktop) leaves it held.
    void holdEndsWithoutItsRelease_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"hidden", "deactivated", "warning box", "focus moved", "still active"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void holdEndsWithoutItsRelease()
    {
        QFETCH(QString, how);
        Panel p;
        QWidget other;
        other.show();
        QApplication::setActiveWindow(how == QLatin1String("hidden") ? &other : p.form.get());
        if (how == QLatin1String("warning box"))
            p.serial.unopenable[2] = QStringLiteral("No such file or directory: /dev/ttyS1");
        if (how == QLatin1String("focus moved")) {
            p.w("Command1")->setFocus();
            QTest::keyPress(p.w("Command1"), Qt::Key_Space);
        } else {
            p.press("Command1");
        }
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        if (how == QLatin1String("hidden")) {
            p.form->hide();
        } else if (how == QLatin1String("deactivated")) {
            QApplication::setActiveWindow(&other);
        } else if (how == QLatin1String("warning box")) {
            p.w<QRadioButton>("Option2")->setChecked(true);
        } else if (how == QLatin1String("focus moved")) {
            p.w("Command18")->setFocus();
        } else {
            QVERIFY(p.form->isActiveWindow());
            QEvent activation(QEvent::ActivationChange);
            QCoreApplication::sendEvent(p.form.get(), &activation);
            p.form->setPalette(QPalette(Qt::darkGray));
            tick(p.exchange().repeatTimer);
            QCOMPARE(p.takeWritten(), wire(kVolUp));
            p.release("Command1");
        }
        QCOMPARE(p.runtime.warnings.size(), how == QLatin1String("warning box") ? 1 : 0);
        checkReleasedExchange(p, kVolUp, 250, 0);
        checkTicksSendNothing(p);
        p.release("Command1");
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstKeyboard)
#include "tst_keyboard.moc"
