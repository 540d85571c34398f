#include "WindowRuntime.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

QSize QtWindowRuntime::screenSize() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

QMargins WindowRuntime::frameMargins(const QWidget &window) const
{
    const QRect outer = window.frameGeometry(), inner = window.geometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

void QtWindowRuntime::showWarning(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

void QtWindowRuntime::endProgram()
{
    QCoreApplication::exit(0);
}

TwipPoint centredPosition(double screenWidth, double screenHeight, double windowWidth, double windowHeight)
{
    return {(screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2};
}
