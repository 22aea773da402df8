#include "support/SettingsWindowRig.h"

#include "audio/AudioDeviceManager.h"
#include "design/EditorialComponents.h"
#include "design/SettingsComponents.h"
#include "design/Text.h"
#include "platform/pulse/SoundServer.h"
#include "runtime/UserDefaults.h"
#include "support/PasteTarget.h"
#include "support/TestEnv.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QThread>
#include <QVBoxLayout>
#include <QXmlStreamReader>

namespace murel::test {

namespace {

QString schemeName(Appearance::Scheme scheme) {
  return scheme == Appearance::Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light");
}

// id -> English text of the built English table.
const QHash<QString, QString>& builtTexts() {
  static const QHash<QString, QString> texts = [] {
    QHash<QString, QString> table;
    QFile file(buildDir() + QStringLiteral("/Murel/resources/murel_en.ts"));
    if (!file.open(QIODevice::ReadOnly)) return table;
    QXmlStreamReader xml(&file);
    QString id;
    while (!xml.atEnd()) {
      xml.readNext();
      if (!xml.isStartElement()) continue;
      if (xml.name() == QLatin1String("message"))
        id = xml.attributes().value(QLatin1String("id")).toString();
      else if (xml.name() == QLatin1String("source") && !id.isEmpty())
        table.insert(id, xml.readElementText());
    }
    return table;
  }();
  return texts;
}

}  // namespace

SettingsWindowRig::SettingsWindowRig(SettingsTab tab, const SettingsPages& pages)
    : pages_(pages),
      sound_(std::make_unique<platform::SoundServer>()),
      audio_(std::make_unique<AudioDeviceManager>(UserDefaults::shared(), sound_->microphone(), sound_->devices())) {
  navigator_.setSelectedTab(tab);
  window_ = std::make_unique<QWidget>();
  window_->setObjectName(QStringLiteral("settings"));
  window_->setWindowTitle(QStringLiteral("Settings"));
  auto* layout = new QVBoxLayout(window_.get());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  view_ = new SettingsView(navigator_, *audio_, pages_);
  layout->addWidget(view_);
  window_->move(40, 40);
  parkPointer();
  window_->show();
  waitUntil([&] { return window_->isVisible() && view_->opacity() >= 1; });
  settle(250);
}

SettingsWindowRig::~SettingsWindowRig() {
  window_.reset();
  settle(0);
}

void SettingsWindowRig::show(SettingsTab tab) {
  navigator_.setSelectedTab(tab);
  settle(250);
}

QString settingsScreenshot(QWidget& window, const QString& name, Appearance::Scheme scheme) {
  const QString folder = buildDir() + QStringLiteral("/screenshots/settings");
  QDir().mkpath(folder);
  Appearance::setOverride(&window, scheme);
  settle(50);
  const QString path =
      folder + QLatin1Char('/') + name + QLatin1Char('-') + schemeName(scheme) + QStringLiteral(".png");
  // The main picture shows open sheets where they stand over the window, cut
  // to their shape; each is also saved on its own.
  QPixmap picture = window.grab();
  QPainter painter(&picture);
  int sheet = 0;
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (!child->isWindow() || !child->isVisible()) continue;
    const QPixmap grabbed = child->grab();
    grabbed.save(folder + QLatin1Char('/') + name + QStringLiteral("-sheet") + QString::number(++sheet) +
                 QLatin1Char('-') + schemeName(scheme) + QStringLiteral(".png"));
    const QPoint at = child->mapToGlobal(QPoint()) - window.mapToGlobal(QPoint());
    painter.save();
    if (!child->mask().isEmpty()) painter.setClipRegion(child->mask().translated(at));
    painter.drawPixmap(at, grabbed);
    painter.restore();
  }
  painter.end();
  picture.save(path);
  Appearance::setOverride(&window, std::nullopt);
  return path;
}

QStringList visibleTexts(QWidget* root) {
  QStringList texts;
  const auto add = [&texts](const QString& text) {
    if (!text.isEmpty() && !texts.contains(text)) texts.append(text);
  };
  QList<QWidget*> widgets{root};
  widgets += root->findChildren<QWidget*>();
  for (QWidget* widget : std::as_const(widgets)) {
    if (widget != root && !widget->isVisibleTo(root)) continue;
    if (auto* label = qobject_cast<TextLabel*>(widget)) add(label->text());
    if (auto* pill = qobject_cast<EditorialStatusPill*>(widget)) add(pill->label());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) add(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget)) add(label->text());
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
      add(field->text());
      add(field->placeholderText());
    }
    if (auto* field = qobject_cast<QPlainTextEdit*>(widget)) {
      add(field->toPlainText());
      add(field->placeholderText());
    }
    add(widget->accessibleName());
  }
  return texts;
}

QStringList rawKeysAmong(const QStringList& texts) {
  static const QRegularExpression dotted(QStringLiteral("^[a-z][A-Za-z0-9]*(\\.[a-z][A-Za-z0-9]*){2,}$"));
  QStringList keys;
  for (const QString& text : texts) {
    const auto found = builtTexts().constFind(text);
    const bool isId = found != builtTexts().constEnd() && found.value() != text;
    if (isId || dotted.match(text).hasMatch()) keys.append(text);
  }
  return keys;
}

QStringList pageExtentFaults(QWidget* root) {
  QStringList faults;
  const auto name = [](const QWidget* widget) {
    const QString text = widget->accessibleName().left(40);
    const QString type = QString::fromLatin1(widget->metaObject()->className());
    return text.isEmpty() ? type : QStringLiteral("%1 \"%2\"").arg(type, text);
  };
  for (SettingsPageLayout* page : root->findChildren<SettingsPageLayout*>()) {
    if (!page->isVisibleTo(root)) continue;
    QWidget* column = page->widget();
    const QSize viewport = page->viewport()->size();
    if (column->width() != viewport.width())
      faults.append(QStringLiteral("%1: column %2 px wide in a page %3 px wide")
                        .arg(name(page->parentWidget()))
                        .arg(column->width())
                        .arg(viewport.width()));
    int lastBottom = 0;
    for (QWidget* view : column->findChildren<QWidget*>()) {
      if (view->isWindow() || !view->isVisibleTo(column)) continue;
      const QRect area(view->mapTo(column, QPoint(0, 0)), view->size());
      if (area.right() >= viewport.width())
        faults.append(QStringLiteral("%1 reaches %2 px past the page's right edge")
                          .arg(name(view))
                          .arg(area.right() + 1 - viewport.width()));
      if (view->parentWidget() == column) lastBottom = std::max(lastBottom, area.bottom() + 1);
    }
    // The scroll ends exactly the bottom space past the content, or shows it all.
    const int expected = std::max(viewport.height(), lastBottom + SettingsPageLayout::kBottomSpace);
    if (column->height() != expected)
      faults.append(QStringLiteral("%1: scrolls %2 px, its content ends at %3 px (expected %4 px)")
                        .arg(name(page->parentWidget()))
                        .arg(column->height())
                        .arg(lastBottom)
                        .arg(expected));
  }
  return faults;
}

bool hoverAt(QWidget* widget, QPoint point) {
  const QPoint global = widget->mapToGlobal(point);
  return xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())});
}

bool clickAt(QWidget* widget, QPoint point) {
  const QPoint global = widget->mapToGlobal(point);
  const bool done = xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                             QStringLiteral("click"), QStringLiteral("1")});
  settle(150);
  return done;
}

bool clickCentre(QWidget* widget) { return clickAt(widget, widget->rect().center()); }

void settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (ms > 0) QThread::msleep(5);
  } while (timer.elapsed() < ms);
}

}  // namespace murel::test
