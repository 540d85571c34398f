// The window as the operator sees it: two reviewed pictures (tests/reference; set
// ORVA_UPDATE_REFERENCE=1 to write them anew), the focus and what screen readers hear;
// its place and size: centred at start-up and made compact, Ctrl+H opens the trace
// and status lines, a double-click on the word mark then the whole window, the data
// button (Command34) closes and opens the data area; a warning at start-up, and END.

#include "PanelHarness.h"

#include <QAccessible>
#include <QApplication>
#include <QFileInfo>
#include <QProxyStyle>
#include <QStyle>
#include <QTemporaryDir>

namespace {
std::vector<std::pair<QObject *, QAccessible::Event>> g_events;
void recordEvent(QAccessibleEvent *event) { g_events.emplace_back(event->object(), event->type()); }

const QString kShow = QString::fromUtf8("データを表示する");
const QString kHide = QString::fromUtf8("データを表示しない");
const QString kClose = QStringLiteral("CLOSE");

// Every tab stop in tab order, as the full window has them.
const QStringList kTabOrder = QString::fromLatin1(
    "Command17 Command1 Command2 Command3 Command5 Command6 Command7 Command8 Command9 Command13 Command14 "
    "Command16 Command18 Command19 Command20 Command21 Command22 Command23 Command24 Command25 Command26 "
    "Command27 Command28 Command29 Command31 Command32 Command33 Command34 Command15 Command35 Command44 "
    "Command45 Command46 Command47 Command48 Command49 Command50 Command51 Command54 Command56 Command57 "
    "Command58 Command30 Command4 Command10 Command11 Command39 Command40 Command41 Command42 Command64 "
    "Command65 Command66 Command69 Command72 Command73 Command74 Command76 Command81 Command82 Text1 "
    "Command95 Command96 Command97 Command98 Command53 Command60 Command61 Command63 Command67 Command12 "
    "Command36 Command37 Command38 Command43").split(u' ');

// Steps, title bar, client height in pixels, outer height in twips, the data button's caption.
struct HeightRow {
    const char *tag, *steps;
    int titleBar, pixels, twips;
    const QString *caption;
};
const HeightRow kHeights[] = {
    {"Ctrl+Shift+H, Ctrl+Alt+H, H, Ctrl+G, word mark", "SAhGD", 0, 332, 5350, &kShow},
    {"Ctrl+H", "H", 0, 455, 7200, &kClose},
    {"Ctrl+H, word mark", "HD", 0, 582, 9100, &kClose},
    {"word mark after the data button", "HBD", 0, 332, 5350, &kShow},
    {"compact -> data", "HBB", 0, 418, 6645, &kHide},
    {"6000 -> compact", "H6B", 0, 332, 5350, &kShow},
    {"5999 -> data", "H5B", 0, 418, 6645, &kHide},
    {"20 px title bar, whole window", "HD", 20, 586, 9100, &kClose},
    {"37 px title bar, whole window", "HD", 37, 582, 9100, &kClose},
};

// The screen, shown first in the platform's frame (offscreen: 2 px all round), and where
// the window goes and its height (5350 twips outer, less the frame).
struct PlacementRow {
    const char *tag;
    QSize screen;
    bool shownFirst;
    QPoint topLeft;
    int height;
};
const PlacementRow kPlacements[] = {
    {"1920x1080", {1920, 1080}, false, {644, 237}, 332},
    {"smaller than the window", {600, 400}, false, {-17, -103}, 332},
    {"shown before start-up", {1920, 1080}, true, {642, 237}, 353},
};
} // namespace

class TstLayout : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QApplication::setPalette(QApplication::style()->standardPalette()); }

    // Every control's place, face, caption, font and edges, at once. A pixel differs
    // when a channel is off by more than 48 (anti-aliasing is within that); none may,
    // since a wrong focus-edge corner is one pixel.
    void picture_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("full") << false;
        QTest::newRow("data-dark") << true;  // a dark desktop; the data height, port frame shown
    }
    void picture()
    {
        QFETCH(bool, dark);
        if (dark)
            QApplication::setPalette(QPalette(QColor(0x2A, 0x2A, 0x2A)));
        Panel p(true, false);
        showAndRun(p, dark ? "H" : "HD");  // the full window
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));  // text on the three display lines
        if (dark)  // the port frame; the data height, its button focused
            showAndRun(p, "CBB");
        const QImage got = p.form->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        const QString ref = QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/reference/window-%1.png").arg(name);
        if (qEnvironmentVariableIsSet("ORVA_UPDATE_REFERENCE"))
            QVERIFY(got.save(ref));
        QImage diff = QImage(ref).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(got.size(), diff.size());
        int differing = 0;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x) {
                const QRgb a = got.pixel(x, y), b = diff.pixel(x, y);
                if (std::max({qAbs(qRed(a) - qRed(b)), qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))}) > 48) {
                    diff.setPixel(x, y, qRgb(0xFF, 0, 0xFF));
                    ++differing;
                }
            }
        if (differing > 0) {
            QTemporaryDir dir;
            dir.setAutoRemove(false);
            got.save(dir.filePath(name + QStringLiteral("-actual.png")));
            diff.save(dir.filePath(name + QStringLiteral("-diff.png")));
            qWarning("%d pixels differ; actual and difference (magenta) in %s", differing, qPrintable(dir.path()));
        }
        QCOMPARE(differing, 0);
    }

    // A caption too long for its face is drawn smaller, a quarter point at a time,
    // down to 6 points and no smaller; one that fits keeps the button's font.
    void captionFontShrinksTo6Points()
    {
        PanelButton tight(QStringLiteral("A caption far too long for so small a face"));
        tight.setFont(QFont(QStringLiteral("IPAPGothic"), 9));
        tight.resize(40, 12);
        QCOMPARE(tight.captionFont().pointSizeF(), 6.0);
        PanelButton roomy(QStringLiteral("ON"));
        roomy.setFont(QFont(QStringLiteral("IPAPGothic"), 9));
        roomy.resize(60, 20);
        QCOMPARE(roomy.captionFont().pointSizeF(), 9.0);
    }

    // Buttons are told apart by what they do (the tooltip says it too); a label
    // without a name of its own is read by its caption.
    void accessibleNames()
    {
        Panel p(false, false);
        const std::pair<const char *, const char *> spoken[] = {
            {"Command17", "POWER ON"}, {"Command35", "Brightness -"}, {"Command5", "Cursor up"},
            {"Command72", "PC2 RGB"},  {"Label11", "TXD"},            {"Label3", "VOL"}};
        for (const auto &[control, name] : spoken)
            QCOMPARE(p.w(control)->accessibleName(), QString::fromLatin1(name));
        QSet<QString> names;
        for (const PanelButton *b : p.form->findChildren<PanelButton *>()) {
            QVERIFY2(!names.contains(b->accessibleName()), qPrintable(b->accessibleName()));
            names << b->accessibleName();
            QCOMPARE(b->toolTip(), b->accessibleName());
        }
        PanelLabel unnamed(QStringLiteral("FAN SPEED"));
        QCOMPARE(QAccessible::queryAccessibleInterface(&unnamed)->text(QAccessible::Name), QStringLiteral("FAN SPEED"));
    }

    // A click gives a button the focus (so Space and Enter act on it next), also
    // under a style that gives buttons the Tab key only.
    void buttonsTakeTheFocusFromAClick()
    {
        struct TabOnlyStyle : QProxyStyle {
            int styleHint(StyleHint hint, const QStyleOption *o, const QWidget *w, QStyleHintReturn *r) const override
            {
                return hint == SH_Button_FocusPolicy ? int(Qt::TabFocus) : QProxyStyle::styleHint(hint, o, w, r);
            }
        };
        const QString before = QApplication::style()->name();
        QApplication::setStyle(new TabOnlyStyle);
        {
            Panel p(true, false);
            showAndRun(p, "");
            QTest::mouseClick(p.button("Command18"), Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), p.w("Command18"));
        }
        QApplication::setStyle(before);
    }

    // Tab from the first stop round to it again: in the full window (Ctrl+H, then the
    // word mark) every stop, in the compact one (the data button) those in sight and
    // the data button, the keyboard's way to the data height.
    void tabChain_data()
    {
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("outOfSight");
        QTest::newRow("full") << true << "";
        QTest::newRow("compact") << false << "Command44 Command45 Command46 Command47 Command54 Command64 Command65 Command66 "
            "Command69 Command72 Command73 Command74 Command76 Command81 Command82 Text1 Command95 Command96 Command97 "
            "Command98 Command53 Command60 Command61 Command63 Command67";
    }
    void tabChain()
    {
        QFETCH(bool, full);
        QFETCH(QString, outOfSight);
        Panel p(true, false);
        showAndRun(p, full ? "HD" : "HB");
        p.w("Command17")->setFocus(Qt::TabFocusReason);
        QStringList chain;
        do {
            chain << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != p.w("Command17") && chain.size() < 200);
        QStringList expected = kTabOrder;
        for (const QString &name : outOfSight.split(u' ', Qt::SkipEmptyParts))
            expected.removeOne(name);
        QCOMPARE(chain, expected);
    }

    // The display lines give their text beside their names, and a new status is
    // announced where an accessibility bridge is up.
    void displayLinesReadByScreenReaders()
    {
        Panel p;
        if (qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"))
            QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 10000);
        g_events.clear();
        const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(recordEvent);
        QAccessible::setActive(true);
        const bool bridged = QAccessible::isActive();
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        QAccessible::setActive(false);
        QAccessible::installUpdateHandler(previous);
        const std::tuple<const char *, const char *, const char *> lines[] = {
            {"Label22", "Status", " Power ON"}, {"Label11", "TXD", " C R 0 CR "}, {"Label12", "RXD", " 0 0 CR "}, {"Label3", "VOL", ""}};
        for (const auto &[control, name, shown] : lines) {
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(p.w(control));
            QCOMPARE(iface->text(QAccessible::Name), QString::fromLatin1(name));
            QCOMPARE(iface->text(QAccessible::Value), QString::fromLatin1(shown));
            QCOMPARE(iface->text(QAccessible::Description), QString::fromLatin1(shown));
        }
        if (!bridged)
            QSKIP("no accessibility bridge on this platform: the change event cannot be seen");
        QVERIFY(std::count(g_events.begin(), g_events.end(), std::make_pair(static_cast<QObject *>(p.w("Label22")), QAccessible::DescriptionChanged)));
    }

    // Client heights in pixels: with no frame known (the design's title bar, 370 twips
    // assumed) or a taller one, (outer - 370) / 15; under a 20 px one (+1 px border),
    // (outer - 315) / 15. Ctrl+H with Shift or Alt, H alone, Ctrl+G leave the window as it is.
    void heights_data() { addRows(kHeights); }
    void heights()
    {
        QFETCH(int, row);
        const HeightRow &r = kHeights[row];
        const QString steps = QString::fromLatin1(r.steps);
        Panel p(true, false);
        showAndRun(p, steps, r.titleBar);
        QCOMPARE(p.form->height(), r.pixels);
        QCOMPARE(p.form->outerHeightTwips(), r.twips);
        QCOMPARE(p.button("Command34")->text(), *r.caption);
        QCOMPARE(p.button("Command34")->isVisible(), steps.contains(u'H'));
        QCOMPARE(p.form->portFrameTimer.isActive(), steps.contains(u'B'));
    }

    // The text box takes its own keys; Ctrl+H typed in it still reaches the window,
    // and the focus leaves the box, now out of sight, for the first key.
    void ctrlHInTheTextBox()
    {
        Panel p(true, false);
        showAndRun(p, "HD");
        QWidget *box = p.w("Text1");
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(box, QStringLiteral("ab"));
        QTest::keyClick(box, Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(p.w<QLineEdit>("Text1")->text(), QStringLiteral("ab"));
        QCOMPARE(p.form->outerHeightTwips(), 7200);
        QCOMPARE(QApplication::focusWidget(), p.w("Command17"));
    }

    // Centred by the full design height, in twips: Left = (screen - 9495 - frame) / 2,
    // Top = (screen - 9100) / 2, rounded to pixels; then made compact.
    void placement_data() { addRows(kPlacements); }
    void placement()
    {
        QFETCH(int, row);
        const auto &[tag, screen, shownFirst, topLeft, height] = kPlacements[row];
        Panel p(false, false);
        p.runtime.screen = screen;
        if (shownFirst)
            p.form->show();
        else
            p.runtime.frame = QMargins();  // no window manager: the design's frame is assumed
        p.form->start();
        p.form->show();
        QCoreApplication::processEvents();
        QCOMPARE(p.form->pos(), topLeft);
        QCOMPARE(p.form->size(), QSize(633, height));
        QCOMPARE(p.form->minimumSize(), p.form->maximumSize());
        QVERIFY(!(p.form->windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    // A port that cannot be opened at start-up is told once the window is on
    // screen, over it, and only once.
    void startUpWarningWaitsForTheWindow()
    {
        Panel p(false, false);
        p.serial.unopenable[1] = QStringLiteral("No such file or directory: /dev/ttyS0");
        QList<bool> visibleAtWarning;
        p.runtime.onWarning = [&] { visibleAtWarning << p.form->isVisible(); };
        p.form->start();
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 0);
        p.form->show();
        QTRY_COMPARE(p.runtime.warnings.size(), 1);
        QVERIFY(p.runtime.warnings.first().startsWith(QLatin1String("No such file or directory: /dev/ttyS0")));
        QCOMPARE(visibleAtWarning, QList<bool>{true});
        p.form->hide();
        p.form->show();
        QCoreApplication::processEvents();
        QCOMPARE(p.runtime.warnings.size(), 1);
    }

    void endClosesThePortAndEnds()
    {
        Panel p;
        p.serial.log.clear();
        p.click("Command16");
        QCOMPARE(p.serial.log, QStringList{"PortOpen=0"});
        QVERIFY(!p.form->isVisible());
        QCOMPARE(p.runtime.ends, 1);
    }
};

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
