// Colour reduction beside the reference converter, on the same pictures in
// the same run: Floyd-Steinberg to the web-safe palette and a 256-colour
// octree reduction. Prints time and PSNR of both and their ratio.
//
// The reference runs as a separate process, so its figure includes start-up
// and file input/output; a plain read-and-write of the same file is timed as
// well and subtracted to give its net time. Ratios are ours against net.
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QLinearGradient>
#include <QProcess>
#include <QRadialGradient>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "colour_reduction.h"

namespace {

const QString Converter = QStringLiteral("/usr/bin/convert");

double Seconds(const std::function<void()>& work, int runs) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

bool RunConverter(const QStringList& args) {
  QProcess p;
  p.start(Converter, args);
  if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    std::fprintf(stderr, "convert %s failed: %s\n", qPrintable(args.join(' ')), p.readAllStandardError().constData());
    return false;
  }
  return true;
}

double Psnr(const QImage& original, const QImage& reduced) {
  const QImage a = original.convertToFormat(QImage::Format_RGB32);
  const QImage b = reduced.convertToFormat(QImage::Format_RGB32);
  if (a.size() != b.size()) return 0;
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      const int dr = qRed(pa[x]) - qRed(pb[x]), dg = qGreen(pa[x]) - qGreen(pb[x]), db = qBlue(pa[x]) - qBlue(pb[x]);
      sum += dr * dr + dg * dg + db * db;
    }
  }
  const double mse = sum / (3.0 * a.width() * a.height());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A banner-like picture: soft gradients, round shapes and hard edges.
QImage Graphic(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, width, height);
  sky.setColorAt(0, QColor(20, 40, 120));
  sky.setColorAt(0.5, QColor(230, 120, 40));
  sky.setColorAt(1, QColor(250, 240, 200));
  p.fillRect(image.rect(), sky);
  for (int i = 0; i < 12; ++i) {
    QRadialGradient ball(QPointF(width * (i + 0.5) / 12, height * (0.3 + 0.4 * (i % 3) / 2)), height / 6.0);
    ball.setColorAt(0, QColor::fromHsv(i * 30, 200, 255));
    ball.setColorAt(1, QColor::fromHsv(i * 30, 255, 60));
    p.setBrush(ball);
    p.setPen(QPen(Qt::black, 2));
    p.drawEllipse(ball.center(), height / 6.0, height / 6.0);
  }
  p.fillRect(QRect(0, height * 5 / 6, width, height / 6), QColor(255, 255, 255));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const QString plasmaFile = dir.filePath("plasma.ppm");
  if (!RunConverter({"-seed", "7", "-size", "1920x1080", "plasma:fractal", plasmaFile})) return 1;
  struct Input {
    const char* name;
    QString file;
  };
  const QString graphicFile = dir.filePath("graphic.ppm");
  Graphic(1280, 720).save(graphicFile);
  const std::vector<Input> inputs = {{"plasma 1920x1080", plasmaFile}, {"graphic 1280x720", graphicFile}};

  const int runs = 5;
  for (const Input& in : inputs) {
    const QImage original = QImage(in.file).convertToFormat(QImage::Format_RGB32);
    std::printf("%s\n", in.name);
    const QString out = dir.filePath("out.ppm");
    const double baseline = Seconds([&] { RunConverter({in.file, out}); }, 3);
    std::printf("  convert read+write only: %.1f ms\n", baseline * 1e3);

    struct Case {
      const char* what;
      int reduction, dither;
      QStringList args;
    };
    const std::vector<Case> cases = {
        {"Floyd-Steinberg web-safe", reduceNetscape, ditherFloydSteinberg,
         {"-dither", "FloydSteinberg", "-remap", "netscape:"}},
        {"octree 256, no dither", reduceQuantize, ditherNone, {"+dither", "-colors", "256"}},
        {"octree 256, dithered", reduceQuantize, ditherFloydSteinberg, {"-colors", "256"}},
    };
    for (const Case& c : cases) {
      QImage ours;
      const double ourTime = Seconds([&] { ours = ReduceColors(original, c.reduction, c.dither, {}, 8); }, runs);
      QStringList args{in.file};
      args << c.args << out;
      const double refTime = Seconds([&] { RunConverter(args); }, 3);
      const QImage ref(out);
      const double refNet = std::max(refTime - baseline, 1e-6);
      const double ourPsnr = Psnr(original, ours), refPsnr = Psnr(original, ref);
      std::printf("  %-26s ours %7.1f ms PSNR %6.2f dB | convert %7.1f ms (net %7.1f ms) PSNR %6.2f dB | "
                  "speed x%.1f net, x%.1f total | PSNR %+.2f dB\n",
                  c.what, ourTime * 1e3, ourPsnr, refTime * 1e3, refNet * 1e3, refPsnr, refNet / ourTime,
                  refTime / ourTime, ourPsnr - refPsnr);
    }
  }
  return 0;
}
