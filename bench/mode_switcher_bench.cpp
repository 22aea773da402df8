// The mode switcher: from the change-mode call to the card mapped and
// painted (target: under 50 ms), and from an arrow key to the highlight
// painted on the new row (target: within one 16 ms frame).
#include "overlays/KeyablePanel.h"
#include "overlays/ModeSwitcherHud.h"
#include "overlays/ModeSwitcherHudController.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11InputFocus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QWindow>

#include <benchmark/benchmark.h>

using namespace murel;

namespace {

QList<Mode> modes() {
  QList<Mode> list;
  for (const auto& [name, transformation] :
       {std::pair{QStringLiteral("Email"), Transformation::preset(TransformPreset::email)},
        std::pair{QStringLiteral("Tidy"), Transformation::preset(TransformPreset::tidy)},
        std::pair{QStringLiteral("Formal"), Transformation::custom(QStringLiteral("Make it formal."))},
        std::pair{QStringLiteral("Plain"), Transformation::raw()}})
    list.append(Mode{QUuid::createUuid(), name, transformation, std::nullopt, false});
  return list;
}

// Counts the paints of one widget.
class PaintProbe : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

void spinUntil(const std::function<bool()>& done) {
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < 2000) QApplication::processEvents();
}

}  // namespace

static void BM_HotkeyToCardPainted(benchmark::State& state) {
  x11::Connection connection;
  X11InputFocus focus(&connection);
  ModeSwitcherHudController controller(focus);
  const QList<Mode> list = modes();
  for (auto _ : state) {
    controller.toggle(list, list[0].id, [](const Mode&) {});
    PaintProbe probe;
    auto* card = qobject_cast<ModeSwitcherHud*>(controller.panel()->contentView());
    card->installEventFilter(&probe);
    spinUntil([&] { return controller.panel()->windowHandle()->isExposed() && probe.paints > 0; });
    state.PauseTiming();
    card->removeEventFilter(&probe);
    controller.close();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_HotkeyToCardPainted)->Iterations(20)->Unit(benchmark::kMillisecond);

static void BM_ArrowToHighlightPainted(benchmark::State& state) {
  x11::Connection connection;
  X11InputFocus focus(&connection);
  ModeSwitcherHudController controller(focus);
  const QList<Mode> list = modes();
  controller.toggle(list, list[0].id, [](const Mode&) {});
  auto* card = qobject_cast<ModeSwitcherHud*>(controller.panel()->contentView());
  spinUntil([&] { return controller.panel()->windowHandle()->isExposed() && card->entranceProgress() >= 1; });
  for (auto _ : state) {
    const int next = (controller.model()->selectedIndex() + 1) % int(list.size());
    PaintProbe probe;
    card->rows().at(next)->installEventFilter(&probe);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(controller.panel()->windowHandle(), &down);
    spinUntil([&] { return probe.paints > 0; });
    state.PauseTiming();
    card->rows().at(next)->removeEventFilter(&probe);
    spinUntil([&] { return card->rows().at(next)->highlight() >= 1; });
    state.ResumeTiming();
  }
  controller.close();
}
BENCHMARK(BM_ArrowToHighlightPainted)->Iterations(50)->Unit(benchmark::kMillisecond);
