// An auto-repeat key held with the mouse: any button holds it, a second button
// adds nothing, and a hold whose release cannot come ends as on a release.

#include "ExpectedRepeatKeys.h"
#include "PanelHarness.h"

#include <QApplication>
#include <QElapsedTimer>

namespace {
const KeyRow &kVolUp = kKeys[0];
}

class TstRepeat : public QObject {
    Q_OBJECT
private slots:
    // The timers run for real: VOL + sends every 250 ms while held.
    void realTimeHold()
    {
        Panel p;
        QElapsedTimer held;
        held.start();
        p.press("Command1");
        QTest::qWait(1000);
        p.release("Command1");
        const QByteArray written = p.takeWritten();
        const qsizetype sent = written.count("C09\r");
        QCOMPARE(written, QByteArray("C09\r").repeated(int(sent)));
        QVERIFY2(sent >= 2 && sent <= held.elapsed() / 250 + 2, qPrintable(QString::number(sent)));
        checkReleasedExchange(p, kVolUp, 250, 0);
    }

    // Held by the right button, then the left goes down too and the right comes up
    // first: the key is let go only when the last button comes up.
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
    }

    // Hidden while another window is active (no deactivation comes with it), another
    // window activated, a warning box opening (a port that cannot be opened), or
    // held by the space bar, the focus moving on (the key's release goes there).
    void holdEndsWithoutItsRelease_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"hidden", "deactivated", "warning box", "focus moved"})
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
        if (how == QLatin1String("hidden"))
            p.form->hide();
        else if (how == QLatin1String("deactivated"))
            QApplication::setActiveWindow(&other);
        else if (how == QLatin1String("warning box"))
            p.w<QRadioButton>("Option2")->setChecked(true);
        else
            p.w("Command18")->setFocus();
        QCOMPARE(p.runtime.warnings.size(), how == QLatin1String("warning box") ? 1 : 0);
        checkReleasedExchange(p, kVolUp, 250, 0);
        checkTicksSendNothing(p);
        p.release("Command1");
        QCOMPARE(p.takeWritten(), QByteArray());
    }

    // Held, let go, held again: the second hold sends as the first did.
    void holdAgainAfterRelease()
    {
        Panel p;
        for (int round = 0; round < 2; ++round) {
            p.press("Command1");
            QCOMPARE(p.takeWritten(), wire(kVolUp));
            QVERIFY(p.button("Command1")->isHeld());
            p.release("Command1");
            QVERIFY(!p.button("Command1")->isHeld());
            QVERIFY(!p.exchange().repeatTimer.isActive());
        }
    }

    // What reaches the window while it stays the active one (its activation told
    // again, a new palette from the desktop) leaves a held key held.
    void holdOutlivesChangesOfAnActiveWindow()
    {
        Panel p;
        QApplication::setActiveWindow(p.form.get());
        QVERIFY(p.form->isActiveWindow());
        p.press("Command1");
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        QEvent activation(QEvent::ActivationChange);
        QCoreApplication::sendEvent(p.form.get(), &activation);
        p.form->setPalette(QPalette(Qt::darkGray));
        tick(p.exchange().repeatTimer);
        QCOMPARE(p.takeWritten(), wire(kVolUp));
        QVERIFY(p.button("Command1")->isHeld());
        p.release("Command1");
        QCOMPARE(p.takeWritten(), QByteArray());
    }
};

QTEST_MAIN(TstRepeat)
#include "tst_repeat.moc"
