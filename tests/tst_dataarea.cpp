// The data area: Ctrl+H opens the trace and status lines whatever control has the
// focus, a double-click on the word mark then opens the whole window, and the
// data button (Command34) closes and opens it again and restarts the frame timer.

#include "PanelHarness.h"

#include <QApplication>
#include <QSignalSpy>

namespace {

constexpr int kCompact = 5350;
constexpr int kData = 6645;
constexpr int kService = 7200;
constexpr int kFull = 9100;

const QString kShowData = QString::fromUtf8("データを表示する");
const QString kHideData = QString::fromUtf8("データを表示しない");
const QString kClose = QStringLiteral("CLOSE");

// One tick of a timer, delivered at once (its signal cannot be emitted from outside).
void tick(QTimer &timer)
{
    QVERIFY(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
}

// Counts the Ctrl+H presses that reach an object.
class CtrlHSpy : public QObject {
public:
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *k = static_cast<QKeyEvent *>(event);
            if (k->key() == Qt::Key_H && k->modifiers() == Qt::ControlModifier)
                ++presses;
        }
        return false;
    }
};

// Puts the window in front and the focus on `name` (or leaves it where it is).
void focusOn(Panel &p, const char *name = nullptr)
{
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    if (name) {
        QWidget *w = p.w(name);
        QVERIFY(w);
        w->setFocus(Qt::OtherFocusReason);
        QCOMPARE(QApplication::focusWidget(), w);
    }
    QVERIFY(QApplication::focusWidget());
}

void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), k, mods);
}

void ctrlH() { key(Qt::Key_H, Qt::ControlModifier); }

} // namespace

class TstDataArea : public QObject {
    Q_OBJECT
private slots:
    void compactAtStart()
    {
        Panel p;
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        QCOMPARE(p.state().DataAreaFlag, qint16(0));
        QVERIFY(!p.button("Command34")->isVisible());
        QCOMPARE(p.button("Command34")->text(), kShowData);
    }

    // --- Ctrl+H ---

    void ctrlHModifiers_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("opens");
        const int ctrl = int(Qt::ControlModifier), shift = int(Qt::ShiftModifier), alt = int(Qt::AltModifier);
        QTest::newRow("Ctrl+H") << int(Qt::Key_H) << ctrl << true;
        QTest::newRow("Ctrl+Shift+H") << int(Qt::Key_H) << (ctrl | shift) << false;
        QTest::newRow("Ctrl+Alt+H") << int(Qt::Key_H) << (ctrl | alt) << false;
        QTest::newRow("Ctrl+Shift+Alt+H") << int(Qt::Key_H) << (ctrl | shift | alt) << false;
        QTest::newRow("H") << int(Qt::Key_H) << 0 << false;
        QTest::newRow("Shift+H") << int(Qt::Key_H) << shift << false;
        QTest::newRow("Alt+H") << int(Qt::Key_H) << alt << false;
        // Only Shift, Ctrl and Alt count; the keypad flag does not.
        QTest::newRow("Ctrl+H on the keypad flag") << int(Qt::Key_H) << (ctrl | int(Qt::KeypadModifier)) << true;
        // Neighbours of H (key codes 71 and 73).
        QTest::newRow("Ctrl+G") << int(Qt::Key_G) << ctrl << false;
        QTest::newRow("Ctrl+I") << int(Qt::Key_I) << ctrl << false;
    }
    void ctrlHModifiers()
    {
        QFETCH(int, keyCode);
        QFETCH(int, modifiers);
        QFETCH(bool, opens);
        Panel p;
        focusOn(p);
        key(Qt::Key(keyCode), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(p.form->outerHeightTwips(), opens ? kService : kCompact);
        QCOMPARE(p.state().DataAreaFlag, qint16(opens ? 1 : 0));
        QCOMPARE(p.button("Command34")->isVisible(), opens);
        QCOMPARE(p.button("Command34")->text(), opens ? kClose : kShowData);
    }

    void ctrlHWhateverHasTheFocus_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::newRow("ON button (focus at start)") << "Command17";
        QTest::newRow("COM button") << "Command33";
        QTest::newRow("auto-repeat key") << "Command1";
        QTest::newRow("cursor pad") << "Command5";
        QTest::newRow("text box") << "Text1";
    }
    void ctrlHWhateverHasTheFocus()
    {
        QFETCH(QString, focus);
        Panel p;
        focusOn(p, focus.toLatin1().constData());
        ctrlH();
        QCOMPARE(p.form->outerHeightTwips(), kService);
        QCOMPARE(p.state().DataAreaFlag, qint16(1));
        QCOMPARE(p.button("Command34")->text(), kClose);
        QVERIFY(p.button("Command34")->isVisible());
    }

    void textBoxStillGetsItsKeys()
    {
        Panel p;
        focusOn(p, "Text1");
        auto *text = p.w<QLineEdit>("Text1");
        QSignalSpy edited(text, &QLineEdit::textEdited);
        QTest::keyClicks(text, QStringLiteral("ab"));
        QCOMPARE(text->text(), QStringLiteral("ab"));
        QCOMPARE(edited.count(), 2);
        QCOMPARE(p.form->outerHeightTwips(), kCompact);  // plain keys do nothing to the window
        QCOMPARE(p.state().DataAreaFlag, qint16(0));

        // Ctrl+H reaches the text box as well. It is no editing key for a line edit
        // here, so the text box hands it on to its container; the container sees it
        // only after the text box's own handling of the event.
        CtrlHSpy passedOn;
        text->parentWidget()->installEventFilter(&passedOn);
        ctrlH();
        QCOMPARE(p.form->outerHeightTwips(), kService);
        QCOMPARE(p.state().DataAreaFlag, qint16(1));
        QCOMPARE(passedOn.presses, 1);
        QCOMPARE(text->text(), QStringLiteral("ab"));
        QCOMPARE(QApplication::focusWidget(), text);

        // And it goes on taking keys.
        QTest::keyClicks(text, QStringLiteral("c"));
        QCOMPARE(text->text(), QStringLiteral("abc"));
        QCOMPARE(edited.count(), 3);
        QCOMPARE(p.form->outerHeightTwips(), kService);
    }

    void heldCtrlHRepeatsTheSame()
    {
        Panel p;
        focusOn(p);
        // From the whole window, and from closed with the flag cleared.
        ctrlH();
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kFull);
        for (int i = 0; i < 2; ++i) {
            if (i == 1) {
                p.click("Command34");
                QCOMPARE(p.form->outerHeightTwips(), kCompact);
                QCOMPARE(p.state().DataAreaFlag, qint16(0));
            }
            QWidget *target = QApplication::focusWidget();
            QVERIFY(target);
            for (int n = 0; n < 5; ++n) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::ControlModifier, QString(QChar(8)), n > 0);
                QApplication::sendEvent(target, &press);
                QCOMPARE(p.form->outerHeightTwips(), kService);
                QCOMPARE(p.state().DataAreaFlag, qint16(1));
                QCOMPARE(p.button("Command34")->text(), kClose);
                QVERIFY(p.button("Command34")->isVisible());
            }
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_H, Qt::ControlModifier, QString(QChar(8)));
            QApplication::sendEvent(target, &release);
            QCOMPARE(p.form->outerHeightTwips(), kService);
        }
    }

    // --- the word mark ---

    void doubleClickNeedsCtrlHFirst()
    {
        Panel p;
        focusOn(p);
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        QVERIFY(!p.button("Command34")->isVisible());
        QCOMPARE(p.button("Command34")->text(), kShowData);

        ctrlH();
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kFull);
        QCOMPARE(p.button("Command34")->text(), kClose);
        QVERIFY(p.button("Command34")->isVisible());
        QCOMPARE(p.state().DataAreaFlag, qint16(1));

        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kFull);
        QCOMPARE(p.button("Command34")->text(), kClose);

        ctrlH();
        QCOMPARE(p.form->outerHeightTwips(), kService);
        QCOMPARE(p.state().DataAreaFlag, qint16(1));
    }

    void singleClickOnWordMarkDoesNothing()
    {
        Panel p;
        focusOn(p);
        ctrlH();
        QTest::mouseClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kService);
    }

    void doubleClickAfterDataButtonDoesNothing_data()
    {
        QTest::addColumn<bool>("fromFull");
        QTest::newRow("closed from the service height") << false;
        QTest::newRow("closed from the whole window") << true;
    }
    void doubleClickAfterDataButtonDoesNothing()
    {
        QFETCH(bool, fromFull);
        Panel p;
        focusOn(p);
        ctrlH();
        if (fromFull)
            QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        p.click("Command34");
        QCOMPARE(p.state().DataAreaFlag, qint16(0));
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        QCOMPARE(p.button("Command34")->text(), kShowData);
        // Opened by the data button (flag still 0): the word mark still does nothing.
        p.click("Command34");
        QCOMPARE(p.form->outerHeightTwips(), kData);
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QCOMPARE(p.form->outerHeightTwips(), kData);
        QCOMPARE(p.button("Command34")->text(), kHideData);
    }

    // --- the data button ---

    void dataButton_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("caption");
        QTest::newRow("service -> compact") << kService << kCompact << kShowData;
        QTest::newRow("whole -> compact") << kFull << kCompact << kShowData;
        QTest::newRow("data -> compact") << kData << kCompact << kShowData;
        QTest::newRow("compact -> data") << kCompact << kData << kHideData;
        QTest::newRow("at the threshold 6000") << 6000 << kCompact << kShowData;
        QTest::newRow("just below the threshold") << 5999 << kData << kHideData;
    }
    void dataButton()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, caption);
        Panel p;
        focusOn(p);
        ctrlH();
        p.form->setOuterHeightTwips(before);
        QCOMPARE(p.form->outerHeightTwips(), before);
        p.click("Command34");
        QCOMPARE(p.form->outerHeightTwips(), after);
        QCOMPARE(p.button("Command34")->text(), caption);
        QCOMPARE(p.state().DataAreaFlag, qint16(0));
        QVERIFY(p.button("Command34")->isVisible());
        QVERIFY(p.form->Timer3.isActive());
        QCOMPARE(p.form->Timer3.interval(), 5000);
    }

    void dataButtonAlternates()
    {
        Panel p;
        focusOn(p);
        ctrlH();
        const int expected[] = {kCompact, kData, kCompact, kData, kCompact};
        for (int h : expected) {
            p.click("Command34");
            QCOMPARE(p.form->outerHeightTwips(), h);
            QCOMPARE(p.button("Command34")->text(), h == kCompact ? kShowData : kHideData);
        }
        // Ctrl+H from the data height goes to the service height.
        p.click("Command34");
        ctrlH();
        QCOMPARE(p.form->outerHeightTwips(), kService);
        QCOMPARE(p.button("Command34")->text(), kClose);
    }

    void dataButtonRestartsFrameTimer()
    {
        Panel p;
        focusOn(p);
        ctrlH();
        QVERIFY(!p.form->Timer3.isActive());
        p.click("Command34");
        QVERIFY(p.form->Timer3.isActive());
        QVERIFY2(p.form->Timer3.remainingTime() > 4000, qPrintable(QString::number(p.form->Timer3.remainingTime())));

        // With the port frame shown: its count starts again from the click.
        tick(p.form->Timer3);
        p.click("Command33");
        QVERIFY(p.w("Frame8")->isVisible());
        QTest::qWait(600);
        const int left = p.form->Timer3.remainingTime();
        QVERIFY(p.form->Timer3.isActive());
        p.click("Command34");
        QVERIFY(p.form->Timer3.isActive());
        QVERIFY2(p.form->Timer3.remainingTime() > left,
                 qPrintable(QStringLiteral("%1 then %2").arg(left).arg(p.form->Timer3.remainingTime())));
        QVERIFY(p.form->Timer3.remainingTime() <= 5000);
        QVERIFY(p.w("Frame8")->isVisible());

        // Its tick hides the frame and stops it.
        tick(p.form->Timer3);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->Timer3.isActive());
    }

    void dataButtonReachableByKeyboardWhenCompact()
    {
        Panel p;
        focusOn(p);
        ctrlH();
        p.click("Command34");
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        PanelButton *data = p.button("Command34");
        QVERIFY(data->isVisible());
        // Below the visible area: wholly so under the design's title bar, and at least
        // not wholly inside whatever frame this platform gives the window.
        QVERIFY(data->y() >= twipsToPixels(kCompact - layout::kDesignFrameHeight));
        QVERIFY(!p.form->rect().contains(data->geometry()));

        // Tab reaches it.
        focusOn(p, "Command17");
        for (int i = 0; i < 300 && QApplication::focusWidget() != data; ++i)
            key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), data);
        key(Qt::Key_Space);
        QCOMPARE(p.form->outerHeightTwips(), kData);
        QCOMPARE(data->text(), kHideData);
        QVERIFY(p.form->Timer3.isActive());

        data->setFocus(Qt::OtherFocusReason);
        key(Qt::Key_Space);
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        QCOMPARE(data->text(), kShowData);
    }
};

QTEST_MAIN(TstDataArea)
#include "tst_dataarea.moc"
