// Draws the client's icon and bitmaps into PNG files:
//   tagwell_draw_resources OUTPUT_FOLDER
// writes icon147.png (32 x 32), bitmap159.png (60 x 60) and bitmap134.png
// (844 x 4). The committed PNGs in resources/ were made with it; run it again
// after changing a picture here.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QtMath>
#include <cstdio>

namespace {

const QColor kNavy(0x1B, 0x3A, 0x5C);
const QColor kSteel(0x4A, 0x7F, 0xB0);
const QColor kSignal(0xE8, 0x8A, 0x1A);

QImage Blank(int width, int height, const QColor& fill) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(fill);
  return image;
}

// A tag with a hole and a trend line: the product's mark.
QImage DrawIcon() {
  QImage image = Blank(32, 32, Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath tag;
  tag.moveTo(2, 9);
  tag.lineTo(9, 2);
  tag.lineTo(29, 2);
  tag.quadTo(30, 2, 30, 4);
  tag.lineTo(30, 28);
  tag.quadTo(30, 30, 28, 30);
  tag.lineTo(4, 30);
  tag.quadTo(2, 30, 2, 28);
  tag.closeSubpath();
  QLinearGradient fill(0, 0, 32, 32);
  fill.setColorAt(0, kSteel);
  fill.setColorAt(1, kNavy);
  p.setPen(QPen(kNavy.darker(130), 1));
  p.setBrush(fill);
  p.drawPath(tag);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(9.5, 9.5), 2.5, 2.5);
  QPainterPath trend;
  trend.moveTo(6, 24);
  trend.lineTo(12, 17);
  trend.lineTo(17, 21);
  trend.lineTo(26, 10);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kSignal, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(trend);
  return image;
}

// A round process gauge on white, the needle in the upper third of the scale.
QImage DrawPicture() {
  QImage image = Blank(60, 60, Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(30, 31);
  QRadialGradient face(centre, 27);
  face.setColorAt(0, Qt::white);
  face.setColorAt(1, QColor(0xDD, 0xE6, 0xF0));
  p.setPen(QPen(kNavy, 3));
  p.setBrush(face);
  p.drawEllipse(centre, 26, 26);
  // Scale from 225 degrees (low) clockwise to -45 degrees (high).
  for (int i = 0; i <= 10; ++i) {
    double angle = qDegreesToRadians(225.0 - 27.0 * i);
    double inner = (i % 5 == 0) ? 15 : 18;
    QPointF a(centre.x() + inner * qCos(angle), centre.y() - inner * qSin(angle));
    QPointF b(centre.x() + 22 * qCos(angle), centre.y() - 22 * qSin(angle));
    p.setPen(QPen(i >= 8 ? QColor(0xC0, 0x30, 0x30) : kNavy, i % 5 == 0 ? 2 : 1));
    p.drawLine(a, b);
  }
  double needle = qDegreesToRadians(225.0 - 27.0 * 6.5);
  p.setPen(QPen(kSignal, 2.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre, QPointF(centre.x() + 19 * qCos(needle), centre.y() - 19 * qSin(needle)));
  p.setPen(Qt::NoPen);
  p.setBrush(kNavy);
  p.drawEllipse(centre, 3.5, 3.5);
  QFont font("Sans Serif", 1);
  font.setPixelSize(7);
  font.setBold(true);
  p.setFont(font);
  p.setPen(kNavy);
  p.drawText(QRectF(0, 40, 60, 10), Qt::AlignCenter, "OPC");
  return image;
}

// A rule that fades from the product's navy into steel blue.
QImage DrawRule() {
  QImage image = Blank(844, 4, Qt::white);
  QPainter p(&image);
  QLinearGradient line(0, 0, 844, 0);
  line.setColorAt(0, kNavy);
  line.setColorAt(0.7, kSteel);
  line.setColorAt(1, kSteel.lighter(150));
  p.fillRect(QRect(0, 1, 844, 2), line);
  p.fillRect(QRect(0, 3, 844, 1), QColor(0xC8, 0xD4, 0xE0));
  return image;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
  QString path = folder + "/" + name;
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QString folder = QString::fromLocal8Bit(argv[1]);
  bool ok = Save(DrawIcon(), folder, "icon147.png") &&
            Save(DrawPicture(), folder, "bitmap159.png") &&
            Save(DrawRule(), folder, "bitmap134.png");
  return ok ? 0 : 1;
}
