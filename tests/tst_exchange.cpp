// Every button in the window, clicked or held with the mouse: what goes on the wire,
// the TXD / RXD / status labels, the timers and the state after each action; the
// manual entry box; the port frame. From the keyboard: keys reach only controls in
// sight; Enter clicks as Space does. Space, Enter or any mouse button held on a
// repeat key holds it, the keyboard's own repeats and a second button add nothing,
// and a hold whose release cannot come ends as on a release.

#include "ExpectedOneShots.h"
#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

namespace {

const KeyRow &kVolUp = kKeys[0];
const QList<QJsonArray> kArrowContexts = referenceRows("arrow-contexts.rows");

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

class TstExchange : public QObject {
    Q_OBJECT
private slots:
    // Each button clicked after start-up (VOL + held before, for a repeat interval
    // of its own): its code and CR on the wire, the hold intervals, and the repeat
    // interval and keyMode set by the menu buttons only.
    void oneShot_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kExpectedOneShots)); ++i)
            QTest::addRow("%s %s", kExpectedOneShots[i].name.constData(), kExpectedOneShots[i].code.constData()) << i;
    }
    void oneShot()
    {
        QFETCH(int, row);
        const OneShotRow &b = kExpectedOneShots[row];
        Panel p;
        act(p, QStringLiteral("key Command1"));
        p.click(b.control.constData());
        QCOMPARE(p.takeWritten(), "C09\r" + b.code + '\r');
        const ExchangeEngine::Timing t = p.exchange().timing();
        QCOMPARE(QList<int>({t.replyWindowMs, t.displayHoldMs, t.repeatMs}), QList<int>({b.replyWindowMs, b.displayHoldMs, b.menuContext ? 200 : 250}));
        QCOMPARE(p.state().keyMode, quint8(b.menuContext ? 1 : 0));
        const keys::Command &command = *keys::findCommand(QString::fromLatin1(b.name));  // no repeat key
        QVERIFY(!p.exchange().press(command) && !p.exchange().tap(command) && !p.exchange().release(command)
                && p.takeWritten().isEmpty());
    }

    // Every auto-repeat key held with the mouse after start-up, then an arrow after
    // each context of reference/arrow-contexts.rows: press, a repeat, a reply while held, release. An
    // earlier status stays until the display hold ends; in every other row that
    // happens while the key is held, and the release starts the hold again.
    void repeatKey_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < kKeys.size(); ++i)
            QTest::addRow("%s", kKeys[i].name.constData()) << i;
        for (int i = 0; i < kArrowContexts.size(); ++i)
            QTest::addRow("%s, %s", qPrintable(kArrowContexts[i][0].toString()), kKeys[kArrowContexts[i][1].toInt()].name.constData())
                << int(kKeys.size()) + i;
    }
    void repeatKey()
    {
        QFETCH(int, row);
        const QJsonArray h = row < kKeys.size() ? QJsonArray{"", row, kKeys[row].repeatMs, kKeys[row].replyWindowMs, kKeys[row].displayHoldMs, 0}
                                                : kArrowContexts[row - kKeys.size()];
        const KeyRow &k = kKeys[h[1].toInt()];
        const int repeatMs = h[2].toInt(), keyMode = h[5].toInt();
        const bool holdEnded = row % 2;
        Panel p;
        ExchangeEngine &e = p.exchange();
        for (const QString &step : (QStringLiteral("click Command44,rx 00\r,reply,") + h[0].toString()).split(u',', Qt::SkipEmptyParts))
            act(p, step);
        QVERIFY(!e.click(*keys::findCommand(QString::fromLatin1(k.name))));  // no one-shot button
        p.takeWritten();
        p.press(k.control.constData());
        fire(e, "repeat");
        QCOMPARE(p.takeWritten(), wire(k).repeated(2));
        const ExchangeEngine::Timing t = e.timing();
        QCOMPARE(p.state().repeatCode, k.repeatCode);
        QVERIFY(t.repeating && t.replyWindowOpen && t.displayHeld);
        QCOMPARE(QList<int>({t.repeatMs, t.replyWindowMs, t.displayHoldMs}), QList<int>({repeatMs, h[3].toInt(), h[4].toInt()}));
        QCOMPARE(p.txd(), QString::fromLatin1(k.trace));
        QCOMPARE(int(p.state().keyMode), keyMode);
        p.serial.receive(QStringLiteral("\x06"));
        QCOMPARE(p.rxd(), QStringLiteral(" ACK "));
        for (const QString &step : holdEnded ? QStringList{"reply", "hold"} : QStringList())
            act(p, step);
        p.release(k.control.constData());
        QCOMPARE(p.takeWritten(), QByteArray());
        checkReleasedExchange(p, k, repeatMs, keyMode);
        QCOMPARE(p.status(), holdEnded ? QString() : QStringLiteral(" Power ON"));
    }

    // What the box takes (reference/text-box.rows): one line of printable ASCII. Of a paste only its first line
    // goes in (where the cursor is); a paste or a key with any other character the
    // projector cannot take is refused whole. Enter sends nothing, SEND sends what the
    // box shows, CLS empties it.
    void boxTakesOneLineOfAscii_data() { addReferenceRows("text-box.rows"); }
    void boxTakesOneLineOfAscii()
    {
        QFETCH(QJsonArray, row);
        const QString pasted = row[3].toString(), after = row[4].toString();
        Panel p(true, false);
        showAndRun(p, QStringLiteral("HD"));  // the whole window: Ctrl+H, a double-click on the word mark
        QLineEdit *box = p.w<QLineEdit>("Text1");
        box->setText(row[1].toString());
        box->setCursorPosition(row[2].toInt());
        box->setFocus();
        if (pasted.startsWith(QLatin1String("type:"))) {
            for (const QChar c : pasted.mid(5)) {
                QKeyEvent key(QEvent::KeyPress, c.unicode() < 128 ? int(c.toUpper().unicode()) : int(Qt::Key_unknown), Qt::NoModifier, c);
                QApplication::sendEvent(box, &key);
            }
        } else {
            QGuiApplication::clipboard()->setText(pasted);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(box->text(), after);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(p.takeWritten(), QByteArray());
        p.click("Command95");
        QCOMPARE(p.takeWritten(), after.toLatin1() + '\r');
        p.click("Command96");
        QCOMPARE(box->text() + p.takeWritten(), QString());
    }

    // The port frame: the COM button shows it, and a click on an option, found by its
    // caption, chooses the port (COM1/COM2) or the speed (reference/port-frame.rows).
    void portFrame_data() { addReferenceRows("port-frame.rows"); }
    void portFrame()
    {
        QFETCH(QJsonArray, row);
        const int unopenable = row[2].toInt();
        Panel p;
        p.serial.log.clear();
        bool openAtWarning = false;
        p.runtime.onWarning = [&] { openAtWarning |= p.serial.portOpen(); };
        if (row[1].toBool())
            p.serial.loseDevice();
        if (unopenable)
            p.serial.unopenable[unopenable] = QStringLiteral("No such file or directory: /dev/ttyS%1").arg(unopenable - 1);
        QStringList on;
        for (const QString &caption : row[3].toString().split(u' ')) {
            p.click("Command33");
            QVERIFY(p.w("Frame8")->isVisible());
            for (QRadioButton *o : p.w("Frame8")->findChildren<QRadioButton *>())
                if (o->text() == caption)
                    QTest::mouseClick(o, Qt::LeftButton, {}, QPoint(6, o->height() / 2));
        }
        for (QRadioButton *o : p.w("Frame8")->findChildren<QRadioButton *>())
            if (o->isChecked())
                on << o->text();
        QCOMPARE(p.serial.log.join(u' '), row[4].toString());
        QCOMPARE(on.join(u' '), row[5].toString());
        QCOMPARE(p.w("Frame8")->isVisible(), row[6].toBool());
        QCOMPARE(p.runtime.warnings.size(), row[7].toInt());
        QVERIFY(!openAtWarning);
    }

    // A button below the compact window's edge takes no focus; keys sent to it all
    // the same do nothing, Ctrl+H included (it is not the focused control's key).
    void keysOutOfSightDoNothing()
    {
        Panel p;
        focusOn(p, "Command17");
        QTest::keyClick(p.w("Command44"), Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(p.form->outerHeightTwips(), 5350);
        // Nor does the button keep them: they go on to the window. So do the keys a
        // held key (in focus) has no use for: a key it does not take, a release
        // of a key that holds nothing.
        const std::tuple<const char *, QEvent::Type, int> passedOn[] = {
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
    // key is held (and drawn pressed) from the press to the release. Auto-repeats in
    // between add nothing, nor does the other activation key, whose release ends nothing.
    void enterAndSpace_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        for (const auto &[button, control] : {std::pair{"ON", "Command17"}, {"VOL +", "Command1"}})
            for (const auto &[name, key] : {std::pair{"Space", Qt::Key_Space}, {"Return", Qt::Key_Return}, {"keypad Enter", Qt::Key_Enter}})
                QTest::addRow("%s, %s", button, name) << control << int(key);
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
        const QImage up = b->grab().toImage();
        sendKey(b, QEvent::KeyPress, key);
        QCOMPARE(p.takeWritten(), atPress ? wire : QByteArray());
        sendKey(b, QEvent::KeyRelease, key, true);
        sendKey(b, QEvent::KeyPress, key, true);
        if (repeats) {
            QVERIFY(b->grab().toImage() != up);
            const int other = key == Qt::Key_Space ? Qt::Key_Return : Qt::Key_Space;
            sendKey(b, QEvent::KeyPress, other);
            sendKey(b, QEvent::KeyRelease, other);
            QVERIFY(p.exchange().timing().repeating);
        }
        QCOMPARE(p.takeWritten(), QByteArray());
        sendKey(b, QEvent::KeyRelease, key);
        QCOMPARE(p.takeWritten(), atPress ? QByteArray() : wire);
        QVERIFY(!p.exchange().timing().repeating);
        QCOMPARE(b->grab().toImage(), up);
    }

    // Hidden while another window is active (no deactivation comes with it), another
    // window activated, a warning box opening (a port that cannot be opened), or
    // held by the space bar, the focus moving on (the key's release goes there): the
    // hold ends. What reaches the window while it stays the active one (its
    // activation told again, a new palette from the desktop), or a second mouse button
    // going down and the first coming up, leaves it held.
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
        p.serial.unopenable[2] = QStringLiteral("No such file or directory: /dev/ttyS1");  // for the warning box
        if (how == QLatin1String("focus moved")) {
            p.w("Command1")->setFocus();
            QTest::keyPress(p.w("Command1"), Qt::Key_Space);
        } else {
            p.press("Command1", how == QLatin1String("still active") ? Qt::RightButton : Qt::LeftButton);
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
            p.press("Command1", Qt::LeftButton);
            p.release("Command1", Qt::RightButton);
            QVERIFY(p.form->isActiveWindow());
            QEvent activation(QEvent::ActivationChange);
            QCoreApplication::sendEvent(p.form.get(), &activation);
            p.form->setPalette(QPalette(Qt::darkGray));
            fire(p.exchange(), "repeat");
            QCOMPARE(p.takeWritten(), wire(kVolUp));
            p.release("Command1");
        }
        QCOMPARE(p.runtime.warnings.size(), how == QLatin1String("warning box") ? 1 : 0);
        checkReleasedExchange(p, kVolUp, 250, 0);
        p.release("Command1");
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstExchange)
#include "tst_exchange.moc"
