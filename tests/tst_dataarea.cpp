// The data area: Ctrl+H opens the trace and status lines, a double-click on the word
// mark then the whole window; the data button (Command34) closes and opens it.

#include "PanelHarness.h"
#include "TestSupport.h"

#include <QApplication>

namespace {

const QString kShow = QString::fromUtf8("データを表示する");
const QString kHide = QString::fromUtf8("データを表示しない");
const QString kClose = QStringLiteral("CLOSE");

// H = Ctrl+H, D = double-click on the word mark, B = the data button,
// 6 / 5 = the outer height set to 6000 / 5999 twips.
void run(Panel &p, const QString &steps)
{
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
    for (const QChar s : steps) {
        if (s == u'H')
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
        else if (s == u'D')
            QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        else if (s == u'B')
            p.click("Command34");
        else
            p.form->setOuterHeightTwips(s == u'6' ? 6000 : 5999);
    }
}

} // namespace

class TstDataArea : public QObject {
    Q_OBJECT
private slots:
    // Ctrl+H with Shift or Alt, H alone, Ctrl+G leave the window as it is.
    void otherKeysLeaveItClosed_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        const int ctrl = int(Qt::ControlModifier);
        QTest::newRow("Ctrl+Shift+H") << int(Qt::Key_H) << (ctrl | int(Qt::ShiftModifier));
        QTest::newRow("Ctrl+Alt+H") << int(Qt::Key_H) << (ctrl | int(Qt::AltModifier));
        QTest::newRow("H") << int(Qt::Key_H) << 0;
        QTest::newRow("Ctrl+G") << int(Qt::Key_G) << ctrl;
    }
    void otherKeysLeaveItClosed()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        Panel p;
        run(p, QString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(mods));
        QCOMPARE(p.form->outerHeightTwips(), 5350);
    }

    // Client heights in pixels: with no frame known (the design's title bar, 370 twips
    // assumed) or a taller one, (outer - 370) / 15; under a 20 px one (+1 px border),
    // (outer - 315) / 15.
    void heights_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("titleBar");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("twips");
        QTest::addColumn<QString>("caption");
        QTest::newRow("word mark at start") << "D" << 0 << 332 << 5350 << kShow;
        QTest::newRow("Ctrl+H") << "H" << 0 << 455 << 7200 << kClose;
        QTest::newRow("Ctrl+H, word mark") << "HD" << 0 << 582 << 9100 << kClose;
        QTest::newRow("service -> compact") << "HB" << 0 << 332 << 5350 << kShow;
        QTest::newRow("word mark after the data button") << "HBD" << 0 << 332 << 5350 << kShow;
        QTest::newRow("compact -> data") << "HBB" << 0 << 418 << 6645 << kHide;
        QTest::newRow("6000 -> compact") << "H6B" << 0 << 332 << 5350 << kShow;
        QTest::newRow("5999 -> data") << "H5B" << 0 << 418 << 6645 << kHide;
        QTest::newRow("20 px title bar, whole window") << "HD" << 20 << 586 << 9100 << kClose;
        QTest::newRow("37 px title bar, whole window") << "HD" << 37 << 582 << 9100 << kClose;
    }
    void heights()
    {
        QFETCH(QString, steps);
        QFETCH(int, titleBar);
        QFETCH(int, pixels);
        QFETCH(int, twips);
        QFETCH(QString, caption);
        Panel p(true, false);
        p.runtime.frame = titleBar ? QMargins(1, titleBar, 1, 1) : QMargins();
        p.form->show();
        run(p, steps);
        QCOMPARE(p.form->height(), pixels);
        QCOMPARE(p.form->outerHeightTwips(), twips);
        QCOMPARE(p.button("Command34")->text(), caption);
        QCOMPARE(p.button("Command34")->isVisible(), steps.contains(u'H'));
        QCOMPARE(p.form->portFrameTimer.isActive(), steps.contains(u'B'));
    }

    // The text box takes its own keys; Ctrl+H typed in it still reaches the window,
    // and the focus leaves the box, now out of sight, for the first key.
    void ctrlHInTheTextBox()
    {
        Panel p;
        run(p, QStringLiteral("HD"));
        QWidget *box = p.w("Text1");
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(box, QStringLiteral("ab"));
        QTest::keyClick(box, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(p.w<QLineEdit>("Text1")->text(), QStringLiteral("ab"));
        QCOMPARE(p.form->outerHeightTwips(), 7200);
        QCOMPARE(QApplication::focusWidget(), p.w("Command17"));
    }
};

QTEST_MAIN(TstDataArea)
#include "tst_dataarea.moc"
