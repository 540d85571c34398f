// Makes the application icons from the word mark: the grey background becomes
// transparent (its red letters keep their anti-aliased edges as partial alpha),
// and the mark is centred on a square canvas of each size.
// Usage: make_icons WORDMARK.png OUTDIR SIZE...   writes OUTDIR/SIZE/orva-panel.png

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>
#include <cstdio>

namespace {

// The word mark is pure red letters blended over an even grey (180,180,180); the
// green channel tells how much grey a pixel holds.
QImage letterMask(const QImage &mark)
{
    constexpr int kGrey = 180;
    QImage out(mark.size(), QImage::Format_ARGB32);
    for (int y = 0; y < mark.height(); ++y) {
        for (int x = 0; x < mark.width(); ++x) {
            const int green = qGreen(mark.pixel(x, y));
            const int alpha = qBound(0, 255 - green * 255 / kGrey, 255);
            out.setPixel(x, y, qRgba(255, 0, 0, alpha));
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s WORDMARK.png OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    const QImage mark(QString::fromLocal8Bit(argv[1]));
    if (mark.isNull()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QImage letters = letterMask(mark.convertToFormat(QImage::Format_RGB32));
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "%s: bad size %s\n", argv[0], argv[i]);
            return 2;
        }
        // A small margin, the mark as wide as the rest allows.
        const int margin = size / 16;
        const QImage scaled = letters.scaledToWidth(size - 2 * margin, Qt::SmoothTransformation);
        QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
        painter.end();
        const QString dir = QString::fromLocal8Bit(argv[2]) + QLatin1Char('/') + QString::number(size);
        QDir().mkpath(dir);
        const QString file = dir + QStringLiteral("/orva-panel.png");
        if (!icon.convertToFormat(QImage::Format_ARGB32).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
