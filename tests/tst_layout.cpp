// The window as the operator sees it: two reviewed pictures (tests/reference; set
// ORVA_UPDATE_REFERENCE=1 to write them anew), the tab order and what screen readers hear.

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

// Shown with no window manager's frame (the design's is assumed), in front.
void showActive(Panel &p)
{
    p.runtime.frame = QMargins();
    p.form->show();
    QApplication::setActiveWindow(p.form.get());
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
}
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
        showActive(p);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
        if (!dark)
            QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);  // the full window
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));  // text on the three display lines
        if (dark)  // the port frame; the data height, its button focused
            for (const char *button : {"Command33", "Command34", "Command34"})
                p.click(button);
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

    // Tab from the first stop round to it again, in the full window.
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

    void tabOrder()
    {
        Panel p(true, false);
        showActive(p);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
        QTest::mouseDClick(p.w("Image1"), Qt::LeftButton);
        QStringList order{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 100; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget()->objectName() == order.first())
                break;
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, QString::fromLatin1(
            "Command17 Command1 Command2 Command3 Command5 Command6 Command7 Command8 Command9 Command13 Command14 "
            "Command16 Command18 Command19 Command20 Command21 Command22 Command23 Command24 Command25 Command26 "
            "Command27 Command28 Command29 Command31 Command32 Command33 Command34 Command15 Command35 Command44 "
            "Command45 Command46 Command47 Command48 Command49 Command50 Command51 Command54 Command56 Command57 "
            "Command58 Command30 Command4 Command10 Command11 Command39 Command40 Command41 Command42 Command64 "
            "Command65 Command66 Command69 Command72 Command73 Command74 Command76 Command81 Command82 Text1 "
            "Command95 Command96 Command97 Command98 Command53 Command60 Command61 Command63 Command67 Command12 "
            "Command36 Command37 Command38 Command43").split(u' '));
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
            showActive(p);
            QTest::mouseClick(p.button("Command18"), Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), p.w("Command18"));
        }
        QApplication::setStyle(before);
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
};

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
