// Build tool: renders the application's SVG icon into the PNG sizes of the
// icon theme, as <out>/<N>x<N>/apps/<name>.png.
//
//   dz-render-icon ICON.svg OUTDIR NAME SIZE...

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: dz-render-icon ICON.svg OUTDIR NAME SIZE...\n");
    return 2;
  }
  // No display is needed to draw into an image.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  QSvgRenderer Renderer(QString::fromLocal8Bit(argv[1]));
  if (!Renderer.isValid()) {
    std::fprintf(stderr, "dz-render-icon: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString OutDir = QString::fromLocal8Bit(argv[2]);
  const QString Name = QString::fromLocal8Bit(argv[3]);
  for (int I = 4; I < argc; ++I) {
    const int Size = std::atoi(argv[I]);
    if (Size <= 0 || Size > 1024) {
      std::fprintf(stderr, "dz-render-icon: bad size %s\n", argv[I]);
      return 2;
    }
    QImage Image(Size, Size, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Qt::transparent);
    {
      QPainter Painter(&Image);
      Painter.setRenderHint(QPainter::Antialiasing);
      Renderer.render(&Painter);
    }
    const QString Dir = QString("%1/%2x%2/apps").arg(OutDir).arg(Size);
    const QString File = Dir + "/" + Name + ".png";
    if (!QDir().mkpath(Dir) || !Image.save(File, "PNG")) {
      std::fprintf(stderr, "dz-render-icon: cannot write %s\n", qPrintable(File));
      return 1;
    }
  }
  return 0;
}
