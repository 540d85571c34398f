// The data area: Ctrl+H opens the trace and status lines whatever control has the
// focus, a double-click on the word mark then opens the whole window, and the
// data button (Command34) closes and opens it again and restarts the frame timer.

#include "PanelHarness.h"
#include "TestSupport.h"

#include <QApplication>
#include <QSignalSpy>

namespace {

constexpr int kCompact = 5350, kData = 6645, kService = 7200, kFull = 9100;

const QString kShowData = QString::fromUtf8("データを表示する");
const QString kHideData = QString::fromUtf8("データを表示しない");
const QString kClose = QStringLiteral("CLOSE");

// Counts the Ctrl+H presses that reach an object.
class CtrlHSpy : public QObject {
public:
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *k = static_cast<QKeyEvent *>(event);
            presses += k->key() == Qt::Key_H && k->modifiers() == Qt::ControlModifier;
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

// Runs steps on an active window: H = Ctrl+H, D = double-click on the word mark,
// C = single click on it, B = the data button.
void run(Panel &p, const QString &steps)
{
    focusOn(p);
    for (const QChar s : steps) {
        if (s == u'H')
            ctrlH();
        else if (s == u'D')
            QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        else if (s == u'C')
            QTest::mouseClick(p.w("Image1"), Qt::LeftButton);
        else
            p.click("Command34");
    }
}

// The window's height, the flag and the data button's caption and visibility.
void checkWindow(const Panel &p, int height, int flag, const QString &caption, bool dataButtonShown = true)
{
    QCOMPARE(p.form->outerHeightTwips(), height);
    QCOMPARE(p.form->dataAreaFlag(), qint16(flag));
    QCOMPARE(p.button("Command34")->text(), caption);
    QCOMPARE(p.button("Command34")->isVisible(), dataButtonShown);
}

} // namespace

class TstDataArea : public QObject {
    Q_OBJECT
private slots:
    void ctrlHModifiers_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("opens");
        const int ctrl = int(Qt::ControlModifier);
        QTest::newRow("Ctrl+H") << int(Qt::Key_H) << ctrl << true;
        QTest::newRow("Ctrl+Shift+H") << int(Qt::Key_H) << (ctrl | int(Qt::ShiftModifier)) << false;
        QTest::newRow("Ctrl+Alt+H") << int(Qt::Key_H) << (ctrl | int(Qt::AltModifier)) << false;
        QTest::newRow("H") << int(Qt::Key_H) << 0 << false;
        // Only Shift, Ctrl and Alt count; the keypad flag does not.
        QTest::newRow("Ctrl+H on the keypad flag") << int(Qt::Key_H) << (ctrl | int(Qt::KeypadModifier)) << true;
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
        if (opens)
            checkWindow(p, kService, 1, kClose);
        else
            checkWindow(p, kCompact, 0, kShowData, false);
    }

    // Ctrl+H, tapped or held (auto-repeated), goes to the service height from every
    // state, whatever control has the focus.
    void ctrlHFromEveryState_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("focus");
        QTest::newRow("compact, ON button (focus at start)") << "" << "Command17";
        QTest::newRow("service height, COM button") << "H" << "Command33";
        QTest::newRow("whole window, auto-repeat key") << "HD" << "Command1";
        QTest::newRow("closed by the data button, cursor pad") << "HB" << "Command5";
        QTest::newRow("data height, text box") << "HBB" << "Text1";
        QTest::newRow("closed from the whole window, data button") << "HDB" << "Command34";
    }
    void ctrlHFromEveryState()
    {
        QFETCH(QString, steps);
        QFETCH(QString, focus);
        Panel p;
        run(p, steps);
        focusOn(p, focus.toLatin1().constData());
        QWidget *target = QApplication::focusWidget();
        for (int n = 0; n < 3; ++n) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_H, Qt::ControlModifier, QString(QChar(8)), n > 0);
            QApplication::sendEvent(target, &press);
            checkWindow(p, kService, 1, kClose);
        }
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_H, Qt::ControlModifier, QString(QChar(8)));
        QApplication::sendEvent(target, &release);
        checkWindow(p, kService, 1, kClose);
    }

    // With the text box focused (in the full window) it still takes its keys, and
    // Ctrl+H reaches it too: the box hands it on to its container. The service
    // height leaves the box out of sight, so the focus goes to the first key.
    void textBoxStillGetsItsKeys()
    {
        Panel p;
        run(p, QStringLiteral("HD"));
        focusOn(p, "Text1");
        auto *text = p.w<QLineEdit>("Text1");
        QSignalSpy edited(text, &QLineEdit::textEdited);
        QTest::keyClicks(text, QStringLiteral("ab"));
        QCOMPARE(text->text(), QStringLiteral("ab"));
        QCOMPARE(p.form->outerHeightTwips(), kFull);
        CtrlHSpy passedOn;
        text->parentWidget()->installEventFilter(&passedOn);
        ctrlH();
        QCOMPARE(p.form->outerHeightTwips(), kService);
        QCOMPARE(passedOn.presses, 1);
        QCOMPARE(text->text(), QStringLiteral("ab"));
        QCOMPARE(edited.count(), 2);
        QCOMPARE(QApplication::focusWidget(), p.w("Command17"));
    }

    // A double-click on the word mark opens the whole window only while the flag is 1
    // (set by Ctrl+H, cleared by the data button); a single click does nothing.
    void wordMark_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("flag");
        QTest::addColumn<QString>("caption");
        QTest::newRow("at start") << "D" << kCompact << 0 << kShowData;
        QTest::newRow("after Ctrl+H") << "HD" << kFull << 1 << kClose;
        QTest::newRow("again on the whole window") << "HDDD" << kFull << 1 << kClose;
        QTest::newRow("Ctrl+H from the whole window") << "HDH" << kService << 1 << kClose;
        QTest::newRow("single click after Ctrl+H") << "HC" << kService << 1 << kClose;
        QTest::newRow("closed by the data button") << "HBD" << kCompact << 0 << kShowData;
        QTest::newRow("closed from the whole window") << "HDBD" << kCompact << 0 << kShowData;
        QTest::newRow("opened by the data button") << "HBBD" << kData << 0 << kHideData;
    }
    void wordMark()
    {
        QFETCH(QString, steps);
        QFETCH(int, height);
        QFETCH(int, flag);
        QFETCH(QString, caption);
        Panel p;
        run(p, steps);
        checkWindow(p, height, flag, caption, steps.contains(u'H'));
    }

    // The data button closes the window from 6000 twips up, else opens the data height;
    // either way it clears the flag and starts the frame timer.
    void dataButton_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("caption");
        QTest::newRow("service -> compact") << kService << kCompact << kShowData;
        QTest::newRow("whole -> compact") << kFull << kCompact << kShowData;
        QTest::newRow("data -> compact") << kData << kCompact << kShowData;
        QTest::newRow("at the threshold 6000") << 6000 << kCompact << kShowData;
        QTest::newRow("just below the threshold") << 5999 << kData << kHideData;
        QTest::newRow("compact -> data") << kCompact << kData << kHideData;
    }
    void dataButton()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, caption);
        Panel p;
        run(p, QStringLiteral("H"));
        p.form->setOuterHeightTwips(before);
        QCOMPARE(p.form->outerHeightTwips(), before);
        p.click("Command34");
        checkWindow(p, after, 0, caption);
        QVERIFY(p.form->portFrameTimer.isActive());
        QCOMPARE(p.form->portFrameTimer.interval(), 5000);
    }

    // With the port frame shown, the data button starts the frame timer's count again.
    void dataButtonRestartsFrameTimer()
    {
        Panel p;
        run(p, QStringLiteral("H"));
        QVERIFY(!p.form->portFrameTimer.isActive());
        p.click("Command33");
        QVERIFY(p.w("Frame8")->isVisible());
        QTest::qWait(600);
        const int left = p.form->portFrameTimer.remainingTime();
        QVERIFY(p.form->portFrameTimer.isActive());
        p.click("Command34");
        QVERIFY(p.form->portFrameTimer.isActive());
        QVERIFY2(p.form->portFrameTimer.remainingTime() > left,
                 qPrintable(QStringLiteral("%1 then %2").arg(left).arg(p.form->portFrameTimer.remainingTime())));
        QVERIFY(p.form->portFrameTimer.remainingTime() <= 5000);
        QVERIFY(p.w("Frame8")->isVisible());
        tick(p.form->portFrameTimer);
        QVERIFY(!p.w("Frame8")->isVisible());
        QVERIFY(!p.form->portFrameTimer.isActive());
    }

    // Under a title bar up to the design's (370 twips) the outer heights are met
    // exactly; under a taller one the client area keeps the design's height (the
    // window grows) and the data button still tells open from closed.
    // Client heights in pixels after: start, Ctrl+H, double-click, data button, again.
    void heightsUnderAnyTitleBar_data()
    {
        QTest::addColumn<int>("titleBar");
        QTest::addColumn<QList<int>>("clients");
        const QList<int> design{332, 455, 582, 332, 418};  // (outer - 370) / 15
        QTest::newRow("none (the design's is assumed)") << 0 << design;
        // 20 + 1 px = 315 twips: (outer - 315) / 15, rounded.
        QTest::newRow("20 px") << 20 << QList<int>{336, 459, 586, 336, 422};
        QTest::newRow("24 px, a little over the design's") << 24 << design;
        QTest::newRow("37 px") << 37 << design;
        QTest::newRow("120 px") << 120 << design;
    }
    void heightsUnderAnyTitleBar()
    {
        QFETCH(int, titleBar);
        QFETCH(QList<int>, clients);
        Panel p(true, false);
        p.runtime.frame = titleBar ? QMargins(1, titleBar, 1, 1) : QMargins();
        p.form->show();
        const struct {
            const char *step;
            int outer;
        } states[] = {{"", kCompact}, {"H", kService}, {"D", kFull}, {"B", kCompact}, {"B", kData}};
        for (int i = 0; i < 5; ++i) {
            run(p, QString::fromLatin1(states[i].step));
            QCOMPARE(p.form->height(), clients[i]);
            QCOMPARE(p.form->outerHeightTwips(), states[i].outer);
        }
    }

    // At the compact height the data button lies below the visible area, but Tab
    // reaches it and the space bar works it.
    void dataButtonReachableByKeyboardWhenCompact()
    {
        Panel p;
        run(p, QStringLiteral("HB"));
        PanelButton *data = p.button("Command34");
        QVERIFY(data->isVisible());
        // Wholly below under the design's title bar, and at least not wholly inside
        // whatever frame this platform gives the window.
        QVERIFY(data->y() >= twipsToPixels(kCompact - layout::kDesignFrameHeight));
        QVERIFY(!p.form->rect().contains(data->geometry()));
        focusOn(p, "Command17");
        for (int i = 0; i < 300 && QApplication::focusWidget() != data; ++i)
            key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), data);
        key(Qt::Key_Space);
        QCOMPARE(p.form->outerHeightTwips(), kData);
        QCOMPARE(data->text(), kHideData);
        QVERIFY(p.form->portFrameTimer.isActive());
        key(Qt::Key_Space);
        QCOMPARE(p.form->outerHeightTwips(), kCompact);
        QCOMPARE(data->text(), kShowData);
    }
};

QTEST_MAIN(TstDataArea)
#include "tst_dataarea.moc"
