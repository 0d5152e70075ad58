// Redraws the updater's artwork: the application icon, in the window and in every size a
// Linux desktop asks for, the maker's word logo and the Windows icon file. Run it with the
// resources folder as its argument:
//   draw_artwork resources
// The output is committed; run it again only when the artwork changes.

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cstdio>

namespace {

const QColor blue(77, 156, 238);
const QColor grey(112, 112, 112);
const QColor lightGrey(189, 189, 189);

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// The mark: a chip with pins, and an arrow coming down into it. Drawn in a 100 x 100 box.
void drawMark(QPainter &p, const QRectF &box, const QColor &chip, const QColor &arrow)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 100.0, box.height() / 100.0);
    p.setPen(Qt::NoPen);

    p.setBrush(chip);
    for (int i = 0; i < 4; ++i) {
        const double x = 30 + i * 12;
        p.drawRoundedRect(QRectF(x, 44, 6, 10), 1.5, 1.5);
        p.drawRoundedRect(QRectF(x, 86, 6, 10), 1.5, 1.5);
    }
    p.drawRoundedRect(QRectF(22, 50, 60, 40), 7, 7);

    QPainterPath arrowPath;
    arrowPath.moveTo(45, 6);
    arrowPath.lineTo(59, 6);
    arrowPath.lineTo(59, 38);
    arrowPath.lineTo(70, 38);
    arrowPath.lineTo(52, 60);
    arrowPath.lineTo(34, 38);
    arrowPath.lineTo(45, 38);
    arrowPath.closeSubpath();
    p.setBrush(arrow);
    p.drawPath(arrowPath);
    p.restore();
}

QImage appIcon(int size)
{
    QImage image = blankImage(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 100.0;
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawRoundedRect(QRectF(4 * s, 4 * s, 92 * s, 92 * s), 18 * s, 18 * s);
    drawMark(p, QRectF(14 * s, 10 * s, 72 * s, 72 * s), Qt::white, grey);
    return image;
}

QImage wordLogo()
{
    QImage image = blankImage(155, 53);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawMark(p, QRectF(2, 6, 40, 40), grey, blue);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(26);
    font.setBold(true);
    font.setLetterSpacing(QFont::PercentageSpacing, 96);
    p.setFont(font);
    p.setPen(blue);
    p.drawText(QRectF(44, 4, 111, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("BRIVOX"));

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(9);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
    p.setFont(small);
    p.setPen(grey);
    p.drawText(QRectF(46, 34, 109, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VANTYX"));
    p.setPen(QPen(lightGrey, 1));
    p.drawLine(QPointF(100, 41.5), QPointF(152, 41.5));
    return image;
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// An icon file with one 256 x 256 image stored as PNG, as Windows expects for large icons.
QByteArray icoFile(const QImage &image)
{
    const QByteArray png = pngBytes(image);
    QByteArray ico(6 + 16, '\0');
    auto put16 = [&ico](int at, quint16 v) { qToLittleEndian(v, ico.data() + at); };
    auto put32 = [&ico](int at, quint32 v) { qToLittleEndian(v, ico.data() + at); };
    put16(2, 1); // type: icon
    put16(4, 1); // one image
    // width and height 0 mean 256
    put16(6 + 4, 1);  // colour planes
    put16(6 + 6, 32); // bits per pixel
    put32(6 + 8, quint32(png.size()));
    put32(6 + 12, 6 + 16);
    return ico + png;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_artwork RESOURCES_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("img/logos"));
    const bool ok =
        writeFile(out.filePath(QStringLiteral("img/logos/Vantyx_app_icon.png")),
                  pngBytes(appIcon(800))) &&
        writeFile(out.filePath(QStringLiteral("img/logos/rsz_brivox_image.png")),
                  pngBytes(wordLogo())) &&
        writeFile(out.filePath(QStringLiteral("flashloader.ico")), icoFile(appIcon(256)));
    bool sized = true;
    // The hicolor theme's sizes, each drawn at its size rather than scaled from another.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        sized = sized && out.mkpath(folder) &&
                writeFile(out.filePath(folder + QStringLiteral("/vantyx-firmware-updater.png")),
                          pngBytes(appIcon(size)));
    }
    return ok && sized ? 0 : 1;
}
