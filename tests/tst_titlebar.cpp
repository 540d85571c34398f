// The real window under openbox with a title bar taller than the design's 370 twips
// (about 50 px; run by openbox_window.sh): at each height the client area keeps the
// design's height, so the lowest control of each band meant to show lies wholly
// inside it, and once the frame is known the outer window is centred as at start-up.

#include "PanelHarness.h"

#include <QApplication>
#include <QScreen>

class TstTitleBar : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs the xcb platform under a window manager (openbox_window.sh)");
    }

    void heightsAndPlacementUnderATallTitleBar()
    {
        Panel p(false, false);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        p.runtime.screen = screen;
        p.form->start();
        p.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.form.get(), 60000));
        auto frameHeight = [&] { return p.form->frameGeometry().height() - p.form->geometry().height(); };
        QTRY_VERIFY_WITH_TIMEOUT(frameHeight() >= 40, 60000);
        const int frameH = frameHeight(), frameW = p.form->frameGeometry().width() - 633;
        const QPoint centred(qRound((screen.width() - 633 - frameW) / 2.0), qRound((screen.height() - 582 - frameH) / 2.0));
        QTRY_COMPARE_WITH_TIMEOUT(p.form->frameGeometry().topLeft(), centred, 20000);
        QApplication::setActiveWindow(p.form.get());
        QVERIFY(QTest::qWaitForWindowActive(p.form.get(), 30000));

        // The bottom of the main band (4815 twips), the data band (6210) and the rest (8655).
        const struct {
            char step;  // H: Ctrl+H, D: double-click on the word mark, B: the data button
            int client;
            bool data, extended;
        } steps[] = {{' ', 332, false, false}, {'H', 455, true, false}, {'D', 582, true, true},
                     {'B', 332, false, false}, {'B', 418, true, false}};
        for (const auto &s : steps) {
            if (s.step != ' ')
                step(p, QChar::fromLatin1(s.step));
            QTRY_COMPARE_WITH_TIMEOUT(p.form->geometry().height(), s.client, 20000);
            QTRY_COMPARE_WITH_TIMEOUT(p.form->frameGeometry().height(), s.client + frameH, 20000);
            auto inside = [&](const char *name) {
                return p.form->rect().contains(QRect(p.w(name)->mapTo(p.form.get(), QPoint(0, 0)), p.w(name)->size()));
            };
            QVERIFY(inside("Command42"));
            QCOMPARE(inside("Frame9"), s.data);
            QCOMPARE(inside("Frame11"), s.extended);
        }
        QCOMPARE(p.form->frameGeometry().topLeft(), centred);  // placed once, not at every height
    }
};

QTEST_MAIN(TstTitleBar)
#include "tst_titlebar.moc"
