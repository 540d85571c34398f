#include "Widgets.h"

// Resources of a static library are registered by hand.
static void initPanelResources()
{
    Q_INIT_RESOURCE(panel);
}

// The word mark is stored as an 80 x 26 picture, 24 bits per pixel: red serif
// capitals "ORVA" on a #B4B4B4 ground.
QImage wordMarkPicture()
{
    initPanelResources();
    QImage picture(QStringLiteral(":/panel/wordmark.png"));
    if (picture.isNull()) {
        picture = QImage(80, 26, QImage::Format_RGB888);
        picture.fill(QColor(0xB4, 0xB4, 0xB4));
    }
    return picture.convertToFormat(QImage::Format_RGB888);
}
