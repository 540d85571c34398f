// The window as built from the layout table: counts, places, colours, fonts, start
// states, tab order, the word mark and the cursor-pad outline.

#include "PanelHarness.h"
#include "panel/LayoutTable.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <map>

using namespace layout;

namespace {
QColor rgb(std::uint32_t c) { return QColor::fromRgb(QRgb(0xFF000000u | c)); }
QString name(const ControlSpec &c) { return QString::fromLatin1(c.name.data(), qsizetype(c.name.size())); }
}

class TstLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { registerFontSubstitutions(); }

    void tableCounts()
    {
        std::map<Kind, int> n;
        for (const ControlSpec &c : kControls)
            ++n[c.kind];
        QCOMPARE(n[Kind::Button], 74);
        QCOMPARE(n[Kind::Label], 24);
        QCOMPARE(n[Kind::Frame], 15);
        QCOMPARE(n[Kind::Option], 4);
        QCOMPARE(n[Kind::TextBox], 1);
        QCOMPARE(n[Kind::Image], 1);
        QCOMPARE(int(kLines.size()), 12);
        QCOMPARE(int(kTimers.size()), 5);
        QCOMPARE(kControlCount, 137);
        int pressRelease = 0;
        QSet<QString> names;
        QSet<int> tabs;
        for (const ControlSpec &c : kControls) {
            pressRelease += (c.flags & Flag::PressRelease) ? 1 : 0;
            names.insert(name(c));
            if (c.tab >= 0)
                QVERIFY2(!tabs.contains(c.tab), c.name.data());
            tabs.insert(c.tab);
        }
        QCOMPARE(pressRelease, 13);
        QCOMPARE(names.size(), 119);
    }

    void everyControlIsBuiltWhereTheTablePutsIt()
    {
        Panel p(false, false);
        for (const ControlSpec &c : kControls) {
            QWidget *w = p.form->control(name(c));
            QVERIFY2(w, c.name.data());
            QCOMPARE(w->objectName(), name(c));
            QCOMPARE(w->parentWidget()->objectName(), c.container ? QString::fromLatin1(c.container) : QStringLiteral("Form1"));
            QCOMPARE(w->geometry(), QRect(twipsToPixels(c.left), twipsToPixels(c.top), twipsToPixels(c.width), twipsToPixels(c.height)));
            QCOMPARE(p.form->findChild<QWidget *>(name(c)), w);
        }
    }

    void representativeGeometry_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("px");
        QTest::newRow("Command17") << "Command17" << QRect(8, 40, 41, 20);
        QTest::newRow("Command6 SELECT") << "Command6" << QRect(80, 200, 57, 25);
        QTest::newRow("Frame8") << "Frame8" << QRect(232, 240, 185, 79);
        QTest::newRow("Command33 COM") << "Command33" << QRect(272, 280, 121, 25);
        QTest::newRow("Label12 RXD") << "Label12" << QRect(40, 36, 374, 20);
        QTest::newRow("Image1") << "Image1" << QRect(544, 8, 80, 26);
        QTest::newRow("Text1") << "Text1" << QRect(40, 11, 337, 23);
        QTest::newRow("Frame9") << "Frame9" << QRect(3, 328, 421, 86);
    }
    void representativeGeometry()
    {
        QFETCH(QString, control);
        QFETCH(QRect, px);
        Panel p(false, false);
        QCOMPARE(p.form->control(control)->geometry(), px);
    }

    void colours_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QColor>("face");
        QTest::newRow("POWER ON") << "Command17" << rgb(0xC0FFC0);
        QTest::newRow("POWER OFF") << "Command18" << rgb(0xFFC0C0);
        QTest::newRow("SELECT") << "Command6" << rgb(0xFF8000);
        QTest::newRow("arrow") << "Command5" << rgb(0xFFE0C0);
        QTest::newRow("VOL +") << "Command1" << rgb(0xFFC080);
        QTest::newRow("A-IMAGE") << "Command13" << rgb(0x00C0C0);
        QTest::newRow("IMAGE") << "Command30" << rgb(0xC0C0FF);
    }
    void colours()
    {
        QFETCH(QString, control);
        QFETCH(QColor, face);
        Panel p(true, true);
        QWidget *w = p.form->control(control);
        const QImage img = w->grab().toImage();
        // A point of the face clear of borders and caption.
        QCOMPARE(img.pixelColor(4, 4), face);
    }

    void labelsAndText()
    {
        Panel p(false, false);
        auto *status = p.w<PanelLabel>("Label22");
        QCOMPARE(status->palette().color(QPalette::WindowText), rgb(0xFF0000));
        QCOMPARE(status->palette().color(QPalette::Window), rgb(0xFFFFFF));
        QCOMPARE(status->frameShape(), QFrame::Box);
        QCOMPARE(p.w<PanelLabel>("Label1")->palette().color(QPalette::WindowText), rgb(0xC00000));
        QVERIFY(p.w<PanelLabel>("Label1")->alignment() & Qt::AlignHCenter);
        QVERIFY(p.w<PanelLabel>("Label9")->alignment() & Qt::AlignRight);
        for (const char *line : {"Label11", "Label12", "Label22"})
            QCOMPARE(p.line(line), QString());
        QCOMPARE(p.w<QLineEdit>("Text1")->text(), QString());
        QCOMPARE(p.w<QLineEdit>("Text1")->maxLength(), std::numeric_limits<int>::max());  // no limit
    }

    void fonts_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("family");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        QTest::newRow("F1 END") << "Command16" << "IPAGothic" << 9.0 << true;
        QTest::newRow("F2 STAND") << "Command4" << "IPAGothic" << 9.0 << false;
        QTest::newRow("F3 STATUS") << "Command44" << "IPAGothic" << 8.25 << true;
        QTest::newRow("F4 Text1") << "Text1" << "IPAGothic" << 9.75 << true;
        QTest::newRow("F5 CMD") << "Label26" << "IPAGothic" << 9.75 << false;
        QTest::newRow("F6 STATUS label") << "Label23" << "IPAGothic" << 8.25 << false;
        QTest::newRow("F7 data-area button") << "Command34" << "IPAPGothic" << 9.0 << false;
        QTest::newRow("F8 status line") << "Label22" << "IPAPGothic" << 9.0 << true;
        QTest::newRow("F9 TXD line") << "Label11" << "IPAPGothic" << 9.75 << true;
    }
    void fonts()
    {
        QFETCH(QString, control);
        QFETCH(QString, family);
        QFETCH(double, points);
        QFETCH(bool, bold);
        Panel p(false, false);
        const QFont f = p.form->control(control)->font();
        QCOMPARE(f.pointSizeF(), points);
        QCOMPARE(f.bold(), bold);
        QCOMPARE(QFontInfo(f).family(), family);
        // The Japanese captions have glyphs in the face that shows them.
        const QFontMetrics m(f);
        for (QChar ch : QString::fromUtf8("データを表示しない"))
            QVERIFY(m.inFont(ch));
    }

    void startStatesAsBuilt()
    {
        Panel p(false, false);
        for (const ControlSpec &c : kControls) {
            const bool hidden = c.flags & Flag::Hidden;
            QCOMPARE(p.form->control(name(c))->isHidden(), hidden);
        }
        QVERIFY(p.w<QRadioButton>("Option9")->isChecked());
        QVERIFY(!p.w<QRadioButton>("Option10")->isChecked());
        QVERIFY(!p.w<QRadioButton>("Option1")->isChecked());
        QVERIFY(!p.w<QRadioButton>("Option2")->isChecked());
        QCOMPARE(p.button("Command34")->text(), QString::fromUtf8("データを表示する"));
        const int intervals[] = {200, 500, 5000, 1000, 2000};
        QTimer *timers[] = {&p.form->engine().repeatTimer, &p.form->engine().replyTimer, &p.form->portFrameTimer, &p.form->engine().displayHoldTimer, &p.form->unusedTimer};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(timers[i]->objectName(), QStringLiteral("Timer%1").arg(i + 1));
            QCOMPARE(timers[i]->interval(), intervals[i]);
            QVERIFY(!timers[i]->isActive());
            QCOMPARE(timers[i]->timerType(), Qt::PreciseTimer);
        }
        QCOMPARE(p.form->windowTitle(), QStringLiteral("ORVA   TK58R   CONTROL   Ver.1.40"));
        QCOMPARE(p.form->size(), QSize(633, 582));
        QCOMPARE(p.form->outerHeightTwips(), 9100);
    }

    void accessibleNames_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("power") << "Command17" << "POWER ON";
        QTest::newRow("volume") << "Command1" << "VOL +";
        QTest::newRow("brightness") << "Command35" << "Brightness -";
        QTest::newRow("arrow") << "Command5" << "Cursor up";
        QTest::newRow("TXD line") << "Label11" << "TXD";
        QTest::newRow("status line") << "Label22" << "Status";
        QTest::newRow("second RGB") << "Command72" << "PC2 RGB";
        QTest::newRow("caption by default") << "Label3" << "VOL";
    }
    void accessibleNames()
    {
        QFETCH(QString, control);
        QFETCH(QString, spoken);
        Panel p(false, false);
        QCOMPARE(p.form->control(control)->accessibleName(), spoken);
        // Every control can be found by what it does, and no two buttons sound alike.
        QSet<QString> buttons;
        for (const ControlSpec &c : kControls) {
            const QString name = p.form->control(::name(c))->accessibleName();
            QVERIFY2(!name.isEmpty(), c.name.data());
            if (c.kind == Kind::Button) {
                QVERIFY2(!buttons.contains(name), qPrintable(name));
                buttons.insert(name);
            }
        }
    }

    void fixedWindow()
    {
        Panel p;
        QCOMPARE(p.form->minimumSize(), p.form->maximumSize());
        QCOMPARE(p.form->width(), 633);
        QVERIFY(!(p.form->windowFlags() & Qt::WindowMaximizeButtonHint));
    }

    void frame8CoversTheComButton()
    {
        Panel p;
        p.form->setOuterHeightTwips(9100);
        QWidget *com = p.form->control(QStringLiteral("Command33"));
        const QPoint centre = com->geometry().center();
        QCOMPARE(p.form->childAt(centre), com);
        p.click("Command33");
        QVERIFY(p.form->control(QStringLiteral("Frame8"))->isVisible());
        QWidget *hit = p.form->childAt(centre);
        QVERIFY(hit != com);
        QVERIFY(p.form->control(QStringLiteral("Frame8"))->isAncestorOf(hit) || hit == p.form->control(QStringLiteral("Frame8")));
    }

    void tabOrder()
    {
        Panel p;
        QApplication::setActiveWindow(p.form.get());
        QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
        QCOMPARE(QApplication::focusWidget(), p.form->control(QStringLiteral("Command17")));
        const char *expected[] = {"Command1", "Command2", "Command3"};
        for (const char *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
        }
        // Every control that takes the focus is in the chain in tab-index order (in
        // the full window, where every control lies in sight).
        p.form->setOuterHeightTwips(9100);
        std::vector<std::pair<int, QWidget *>> tabbed;
        for (const ControlSpec &c : kControls)
            if (c.kind == Kind::Button || c.kind == Kind::Option || c.kind == Kind::TextBox)
                tabbed.emplace_back(c.tab, p.form->control(name(c)));
        std::sort(tabbed.begin(), tabbed.end(), [](auto &a, auto &b) { return a.first < b.first; });
        auto nextTabStop = [](QWidget *w) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
            return w;
        };
        for (std::size_t i = 1; i < tabbed.size(); ++i)
            QCOMPARE(nextTabStop(tabbed[i - 1].second), tabbed[i].second);
    }

    void wordMark()
    {
        Panel p;
        auto *image = p.w<WordMarkImage>("Image1");
        const QImage &pic = image->picture();
        QCOMPARE(pic.size(), QSize(80, 26));
        QCOMPARE(pic.format(), QImage::Format_RGB888);
        QCOMPARE(pic.pixelColor(0, 0), QColor(0xB4, 0xB4, 0xB4));
        int red = 0;
        for (int y = 0; y < 26; ++y)
            for (int x = 0; x < 80; ++x)
                red += pic.pixelColor(x, y) == QColor(0xFF, 0, 0) ? 1 : 0;
        QVERIFY(red > 50);
        // Shown unscaled.
        QCOMPARE(image->grab().toImage().convertToFormat(QImage::Format_RGB888), pic);
    }

    void cursorPadOutline()
    {
        Panel p;
        p.form->setOuterHeightTwips(9100);
        const QImage img = p.form->grab().toImage();
        const QColor line = rgb(kLineColour);
        // A point on each of the twelve lines, away from its ends.
        for (const LineSpec &l : kLines) {
            const QPoint mid((l.x1 + l.x2) / 2 / kTwipsPerPixel, (l.y1 + l.y2) / 2 / kTwipsPerPixel);
            const bool onLine = img.pixelColor(mid) == line || img.pixelColor(mid - QPoint(1, 1)) == line;
            QVERIFY2(onLine, l.name.data());
        }
        // Inside the cross, clear of the keys, is window grey.
        QCOMPARE(img.pixelColor(2000 / 15, 2440 / 15), rgb(kWindowBack));
    }
};

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
