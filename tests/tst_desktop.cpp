// The panel on real desktops: captions readable under a dark palette, the three
// display boxes framed alike, the display lines read by screen readers, the
// data-area button's caption shown whole, and the tooltips.

#include "PanelHarness.h"
#include "panel/LayoutTable.h"

#include <QAccessible>
#include <QApplication>
#include <map>

using namespace layout;

namespace {

QString name(const ControlSpec &c) { return QString::fromLatin1(c.name.data(), qsizetype(c.name.size())); }

double luminance(QColor c)
{
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark desktop: light text on dark faces.
QPalette darkPalette()
{
    QPalette pal;
    const QColor dark(0x2A, 0x2A, 0x2A), light(0xEE, 0xEE, 0xEE);
    for (QPalette::ColorRole r : {QPalette::Window, QPalette::Button, QPalette::Base, QPalette::AlternateBase})
        pal.setColor(r, dark);
    for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text, QPalette::BrightText})
        pal.setColor(r, light);
    return pal;
}

// Events sent to screen readers while a test listens.
std::vector<std::pair<QObject *, QAccessible::Event>> g_events;
void recordEvent(QAccessibleEvent *event) { g_events.emplace_back(event->object(), event->type()); }

} // namespace

class TstDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { registerFontSubstitutions(); }

    // Under a dark palette every caption and label keeps its own colour on its own
    // face: the caption pixels reach the expected colour where the layout gives one,
    // and every control's text contrasts with its face (WCAG ratio at least 3).
    void captionsReadableUnderDarkPalette_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QColor>("text");  // invalid: only the contrast is checked
        const std::map<QString, QColor> exact = {
            {"Command17", Qt::black},           {"Command18", Qt::black},
            {"Command6", Qt::black},            {"Command13", Qt::black},
            {"Command16", Qt::black},           {"Command44", Qt::black},
            {"Label1", QColor(0xC0, 0, 0)},     {"Label3", Qt::black},
            {"Label22", QColor(0xFF, 0, 0)},    {"Label11", Qt::black},
            {"Option1", Qt::black},             {"Option10", Qt::black},
        };
        for (const ControlSpec &c : kControls) {
            if (c.kind != Kind::Button && c.kind != Kind::Label && c.kind != Kind::Option)
                continue;
            const auto it = exact.find(name(c));
            QTest::newRow(c.name.data()) << name(c) << (it == exact.end() ? QColor() : it->second);
        }
    }
    void captionsReadableUnderDarkPalette()
    {
        QFETCH(QString, control);
        QFETCH(QColor, text);
        const QPalette desktop = QApplication::palette();
        QApplication::setPalette(darkPalette());
        Panel p;
        QApplication::setPalette(desktop);
        p.form->setOuterHeightTwips(9100);
        p.form->keyPreview(Qt::Key_H, 2);  // Ctrl+H: shows the data-area button
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));  // text on the three display lines
        p.click("Command33");                      // the options on show
        QWidget *w = p.form->control(control);
        QVERIFY(w->isVisible());
        const QImage img = w->grab().toImage();
        // Inside the raised edges, focus edge and border.
        const int inset = qobject_cast<QAbstractButton *>(w) && !qobject_cast<QRadioButton *>(w) ? 3 : 1;
        const QRect inner = img.rect().adjusted(inset, inset, -inset, -inset);
        std::map<QRgb, int> count;
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                ++count[img.pixel(x, y)];
        const QColor face = QColor::fromRgb(std::max_element(count.begin(), count.end(), [](auto &a, auto &b) {
                                                 return a.second < b.second;
                                             })->first);
        double best = 1;
        for (const auto &[pixel, n] : count)
            best = std::max(best, contrast(QColor::fromRgb(pixel), face));
        QVERIFY2(best >= 3.0, qPrintable(QStringLiteral("%1: caption contrast %2 on %3").arg(control).arg(best).arg(face.name())));
        if (text.isValid())
            QVERIFY2(count.count(text.rgb()), qPrintable(QStringLiteral("%1: no %2 pixel").arg(control, text.name())));
    }

    // The TXD, RXD and status boxes have the same black border, whatever their text colour.
    void displayBoxBorders()
    {
        Panel p;
        p.click("Command44");
        p.serial.receive(QStringLiteral("00\r"));
        for (const char *box : {"Label11", "Label12", "Label22"}) {
            const QImage img = p.w(box)->grab().toImage();
            const int w = img.width(), h = img.height();
            for (QPoint at : {QPoint(w / 2, 0), QPoint(w / 2, h - 1), QPoint(0, h / 2), QPoint(w - 1, h / 2)})
                QVERIFY2(img.pixelColor(at) == QColor(Qt::black), box);
        }
    }

    // A screen reader reads the display lines' text beside their names, and hears of
    // a new status.
    void displayLinesReadByScreenReaders()
    {
        Panel p;
        // Where the session asks for the bridge (a desktop with a screen reader), it
        // comes up once the accessibility bus has answered.
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
            {"Label22", "Status", " Power ON"}, {"Label11", "TXD", " C R 0 CR "}, {"Label12", "RXD", " 0 0 CR "}};
        for (const auto &[control, spoken, shown] : lines) {
            QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(p.w(control));
            QVERIFY(iface);
            QCOMPARE(iface->text(QAccessible::Name), QString::fromLatin1(spoken));
            QCOMPARE(iface->text(QAccessible::Value), QString::fromLatin1(shown));
            QCOMPARE(iface->text(QAccessible::Description), QString::fromLatin1(shown));
        }
        // A caption label is read by its name only.
        QCOMPARE(QAccessible::queryAccessibleInterface(p.w("Label3"))->text(QAccessible::Description), QString());
        // Qt hands events on only while an accessibility bridge is active (not on
        // the offscreen platform).
        if (!bridged)
            QSKIP("no active accessibility bridge on this platform: the change event is not observable");
        const auto announced = std::find(g_events.begin(), g_events.end(),
                                         std::make_pair(static_cast<QObject *>(p.w("Label22")), QAccessible::DescriptionChanged));
        QVERIFY(announced != g_events.end());
    }

    // The data-area button's three captions each fit whole on its 80 x 25 face, in the
    // font they are drawn in; other captions keep their font.
    void dataAreaCaptionsFitTheFace()
    {
        Panel p;
        PanelButton *b = p.button("Command34");
        const QRect inside = QRect(0, 0, 80, 25).adjusted(2, 2, -2, -2);  // within the raised edges
        auto check = [&](const char *caption) {
            QCOMPARE(b->text(), QString::fromUtf8(caption));
            QCOMPARE(b->size(), QSize(80, 25));
            const QRect need = QFontMetrics(b->captionFont()).boundingRect(inside, Qt::AlignCenter | Qt::TextWordWrap, b->text());
            QVERIFY2(inside.contains(need), caption);
        };
        QApplication::setActiveWindow(p.form.get());
        QVERIFY(QTest::qWaitForWindowActive(p.form.get()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
        check("CLOSE");
        QCOMPARE(b->captionFont(), b->font());
        p.click("Command34");
        check("データを表示する");
        p.click("Command34");  // from the compact height
        check("データを表示しない");
        for (const char *other : {"Command3", "Command16", "Command65", "Command38", "Command48"})
            QCOMPARE(p.button(other)->captionFont(), p.button(other)->font());
    }

    void tooltips_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("tip");
        QTest::newRow("power") << "Command17" << "POWER ON";
        QTest::newRow("second RGB") << "Command72" << "PC2 RGB";
        QTest::newRow("arrow") << "Command9" << "Cursor left";
        QTest::newRow("data area") << "Command34" << "Data area";
        QTest::newRow("standard style") << "Command38" << "Input signal WIRELESS";
    }
    void tooltips()
    {
        QFETCH(QString, control);
        QFETCH(QString, tip);
        Panel p(false, false);
        QCOMPARE(p.form->control(control)->toolTip(), tip);
        for (const ControlSpec &c : kControls)
            if (c.kind == Kind::Button)
                QVERIFY2(!p.form->control(name(c))->toolTip().isEmpty(), c.name.data());
        const QString wordMark = p.form->control(QStringLiteral("Image1"))->toolTip();
        QVERIFY(wordMark.contains(QLatin1String("Ctrl+H")) && wordMark.contains(QLatin1String("double-click")));
    }
};

QTEST_MAIN(TstDesktop)
#include "tst_desktop.moc"
