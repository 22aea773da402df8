// Switching between light and dark: one repaint pass over an open settings
// page, with no widget created or destroyed. Reports the time per switch and,
// as counters, the paints per switch of one component and the widgets built.
#include "design/Appearance.h"
#include "design/EditorialComponents.h"
#include "design/InputComponents.h"
#include "design/SettingsComponents.h"
#include "design/Tokens.h"

#include <QApplication>
#include <QPainter>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

using namespace murel;

namespace {

class Probe : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    ++paints;
    QPainter(this).fillRect(rect(), dsColor(DSColor::background, this));
  }
};

}  // namespace

static void BM_AppearanceSwitch(benchmark::State& state) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* probe = new Probe;
  probe->setFixedHeight(20);
  layout->addWidget(probe);
  auto* page = new SettingsPageLayout;
  for (int s = 0; s < 3; ++s) {
    auto* section = new SettingsCardSection(QStringLiteral("SECTION"));
    for (int r = 0; r < 10; ++r)
      section->addRow(new SettingsRow(QStringLiteral("Setting"), QStringLiteral("What it does, in a few words."),
                                      r == 0, new EditorialToggleButton(r % 2 == 0)));
    page->addContent(section);
  }
  page->addContent(new DSTextField(QStringLiteral("NAME"), QStringLiteral("e.g. Email"), QString()));
  page->addContent(new DSDropdown(QStringLiteral("KIND"), {{1, QStringLiteral("One")}, {2, QStringLiteral("Two")}}, 1));
  layout->addWidget(page);
  window.resize(800, 1000);
  window.show();
  for (int i = 0; i < 20; ++i) QApplication::processEvents();

  const qsizetype widgetsBefore = QApplication::allWidgets().size();
  const int paintsBefore = probe->paints;
  bool dark = false;
  for (auto _ : state) {
    dark = !dark;
    Appearance::setOverride(&window, dark ? Appearance::Scheme::Dark : Appearance::Scheme::Light);
    QApplication::processEvents();  // the one repaint
  }
  state.counters["paintsPerSwitch"] = double(probe->paints - paintsBefore) / double(state.iterations());
  state.counters["widgetsBuilt"] = double(QApplication::allWidgets().size() - widgetsBefore);
}
BENCHMARK(BM_AppearanceSwitch)->Iterations(200)->Unit(benchmark::kMillisecond);
