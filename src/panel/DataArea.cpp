// The data area: Ctrl+H opens the trace and status lines, a double-click on the
// word mark then opens the whole window, and the data button (Command34)
// closes and opens it.

#include "Form1.h"
#include "Widgets.h"

namespace {
constexpr int kCompactHeight = 5350;
constexpr int kDataHeight = 6645;
constexpr int kServiceHeight = 7200;
constexpr int kFullHeight = 9100;
constexpr int kOpenThreshold = 6000;
constexpr int kKeyH = 72;
constexpr int kCtrlOnly = 2;  // of Shift 1, Ctrl 2, Alt 4
}

void Form1::keyPreview(int keyCode, int shift)
{
    if ((shift & 7) != kCtrlOnly || keyCode != kKeyH)
        return;
    setOuterHeightTwips(kServiceHeight);
    m_dataAreaFlag = 1;
    dataAreaButton->setText(QStringLiteral("CLOSE"));
    dataAreaButton->setVisible(true);
}

void Form1::wordMarkDoubleClicked()
{
    if (m_dataAreaFlag != 1)
        return;
    setOuterHeightTwips(kFullHeight);
    dataAreaButton->setText(QStringLiteral("CLOSE"));
    dataAreaButton->setVisible(true);
}

void Form1::toggleDataArea()
{
    portFrameTimer.stop();
    m_dataAreaFlag = 0;
    if (outerHeightTwips() >= kOpenThreshold) {
        setOuterHeightTwips(kCompactHeight);
        dataAreaButton->setText(QString::fromUtf8("データを表示する"));
    } else {
        setOuterHeightTwips(kDataHeight);
        dataAreaButton->setText(QString::fromUtf8("データを表示しない"));
    }
    portFrameTimer.start();
}
