#include "design/Symbols.h"

#include "runtime/AppPaths.h"
#include "runtime/SystemLog.h"

#include <QHash>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <memory>

namespace murel::Symbols {
namespace {

QSvgRenderer* renderer(const QString& resourcePath) {
  static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
  auto it = cache.find(resourcePath);
  if (it == cache.end()) {
    auto loaded = std::make_shared<QSvgRenderer>(AppPaths::resource(resourcePath));
    if (!loaded->isValid()) {
      static const Logger log("design");
      log.error(QStringLiteral("cannot load the image %1").arg(resourcePath));
      loaded.reset();
    }
    it = cache.insert(resourcePath, loaded);
  }
  return it->get();
}

}  // namespace

qreal sideForPointSize(qreal pointSize) { return pointSize; }

bool paintImage(QPainter& painter, const QRectF& box, const QString& resourcePath, const QColor& color) {
  QSvgRenderer* svg = renderer(resourcePath);
  if (!svg || box.isEmpty()) return svg != nullptr;
  QSizeF size = svg->defaultSize();
  if (size.isEmpty()) size = box.size();
  size.scale(box.size(), Qt::KeepAspectRatio);
  const QRectF target(box.center() - QPointF(size.width() / 2, size.height() / 2), size);
  // Template rendering: the image's alpha, filled with the colour.
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  QImage image((target.size() * dpr).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(dpr);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg->render(&p, QRectF(QPointF(0, 0), target.size()));
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRectF(QPointF(0, 0), target.size()), color);
  }
  painter.drawImage(target.topLeft(), image);
  return true;
}

bool paint(QPainter& painter, const QRectF& box, const QString& name, const QColor& color) {
  return paintImage(painter, box, QStringLiteral("symbols/") + name + QStringLiteral(".svg"), color);
}

}  // namespace murel::Symbols
