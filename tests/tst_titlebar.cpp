// The real window under a window manager whose title bar is taller than the
// design's 370 twips (openbox with the theme of tests/openbox, about 50 px; run by
// openbox_window.sh): at each of the four heights the client area keeps the
// design's height, so the lowest control of every band meant to show lies wholly
// inside it; the data button still closes and opens; once the frame is known the
// outer window is centred as at start-up.

#include "PanelHarness.h"

#include <QApplication>
#include <QScreen>

namespace {

// The lowest controls of each band: the bottom row of the main band (4815), the
// right-hand column and the R/C KEY row; the status queries and the trace frame
// (6210); the logo group and the command entry (8655).
const char *const kMainBand[] = {"Command42", "Command12", "Command36", "Command16", "Command57", "Command58"};
const char *const kDataBand[] = {"Frame9", "Command45", "Command47", "Command54"};
const char *const kExtendedBand[] = {"Frame11", "Frame15", "Text1", "Command95", "Command96", "Command61"};

// Client heights in pixels of the design: outer height less 370 twips.
constexpr int kCompactClient = 332, kDataClient = 418, kServiceClient = 455, kFullClient = 582;

bool whollyInside(const Panel &p, const char *name)
{
    const QWidget *w = p.w(name);
    const QRect r(w->mapTo(p.form.get(), QPoint(0, 0)), w->size());
    return p.form->rect().contains(r);
}

} // namespace

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
        // The window manager's frame, once it has framed the window.
        auto frameHeight = [&] { return p.form->frameGeometry().height() - p.form->geometry().height(); };
        QTRY_VERIFY_WITH_TIMEOUT(frameHeight() >= 40, 60000);
        const int frameH = frameHeight();
        const int frameW = p.form->frameGeometry().width() - p.form->geometry().width();
        QVERIFY2(frameH * 15 > layout::kDesignFrameHeight, qPrintable(QString::number(frameH)));

        // Centred as at start-up, by the full design client height and the real frame.
        const QPoint centred(qRound((screen.width() - 633 - frameW) / 2.0), qRound((screen.height() - 582 - frameH) / 2.0));
        QTRY_COMPARE_WITH_TIMEOUT(p.form->frameGeometry().topLeft(), centred, 20000);

        QApplication::setActiveWindow(p.form.get());
        QVERIFY(QTest::qWaitForWindowActive(p.form.get(), 30000));

        struct Step {
            const char *what;
            int outer, client;
            bool data, extended;
        };
        const Step steps[] = {
            {"start", 5350, kCompactClient, false, false},
            {"Ctrl+H", 7200, kServiceClient, true, false},
            {"double-click on the word mark", 9100, kFullClient, true, true},
            {"data button", 5350, kCompactClient, false, false},
            {"data button again", 6645, kDataClient, true, false},
            {"data button once more", 5350, kCompactClient, false, false},
        };
        for (const Step &s : steps) {
            const QString what = QString::fromLatin1(s.what);
            if (what == QLatin1String("Ctrl+H"))
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
            else if (what.startsWith(QLatin1String("double")))
                QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
            else if (what.startsWith(QLatin1String("data")))
                p.click("Command34");
            // The real window takes the new size from the server.
            QTRY_COMPARE_WITH_TIMEOUT(p.form->geometry().height(), s.client, 20000);
            QTRY_COMPARE_WITH_TIMEOUT(p.form->frameGeometry().height(), s.client + frameH, 20000);
            QCOMPARE(p.form->outerHeightTwips(), s.outer);
            for (const char *name : kMainBand)
                QVERIFY2(whollyInside(p, name), qPrintable(what + QLatin1Char(' ') + QLatin1String(name)));
            for (const char *name : kDataBand)
                QVERIFY2(whollyInside(p, name) == s.data, qPrintable(what + QLatin1Char(' ') + QLatin1String(name)));
            for (const char *name : kExtendedBand)
                QVERIFY2(whollyInside(p, name) == s.extended, qPrintable(what + QLatin1Char(' ') + QLatin1String(name)));
        }
        // Placement is corrected once, not on every height change.
        QCOMPARE(p.form->frameGeometry().topLeft(), centred);
    }
};

QTEST_MAIN(TstTitleBar)
#include "tst_titlebar.moc"
