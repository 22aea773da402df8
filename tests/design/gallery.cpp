// murel-gallery: renders every design-system component in the light and the
// dark appearance into PNG files, one per group and appearance.
// Usage: murel-gallery <output folder>
#include "design/Appearance.h"
#include "design/CoreComponents.h"
#include "design/EditorialComponents.h"
#include "design/HotkeyComponents.h"
#include "design/InputComponents.h"
#include "design/ProgressComponents.h"
#include "design/SettingsComponents.h"
#include "design/Tokens.h"
#include "runtime/Clock.h"
#include "runtime/Localization.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QPainter>
#include <QThread>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

using namespace murel;

namespace {

// A window-sized sheet in the page colour.
class Sheet : public QWidget {
 public:
  Sheet() { setAttribute(Qt::WA_OpaquePaintEvent); }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), dsColor(DSColor::background, this)); }
};

QWidget* hbox(std::initializer_list<QWidget*> widgets, int spacing = 16) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  for (QWidget* w : widgets) layout->addWidget(w, 0, Qt::AlignVCenter);
  layout->addStretch(1);
  return row;
}

void core(QVBoxLayout* page) {
  page->addWidget(hbox({new StepCounter(0, 7), new StepCounter(9, 12), new StepCounter(99, 100)}));
  page->addWidget(new ThinDivider);
  page->addWidget(hbox({new DSAccentStripe(48, 3), new DSAccentStripe(120, 6)}));
}

void editorial(QVBoxLayout* page) {
  using L = EditorialStatusPill::Leading;
  page->addWidget(hbox({new EditorialStatusPill(QStringLiteral("READY"), L::checkmark, DSColor::success),
                        new EditorialStatusPill(QStringLiteral("LISTENING"), L::dot, DSColor::accent),
                        new EditorialStatusPill(QStringLiteral("LOCKED"), L::lock, DSColor::inkSecondary),
                        new EditorialStatusPill(QStringLiteral("CONFLICT"), L::none, DSColor::warning),
                        new EditorialPillButton(QStringLiteral("DOWNLOAD"), DSColor::accent, [] {})}));
  auto* disabled = new EditorialPillButton(QStringLiteral("DISABLED"), DSColor::danger, [] {});
  disabled->setEnabled(false);
  page->addWidget(hbox({new EditorialToggleButton(false), new EditorialToggleButton(true), disabled}));
  page->addWidget(hbox({new EditorialChapterNumeral(3, false, false), new EditorialChapterNumeral(7, true, false),
                        new EditorialChapterNumeral(100, false, false)}));
  page->addWidget(new EditorialKeycapRow({QStringLiteral("⌥"), QStringLiteral("SPACE")}, 44, 36, 14, 16));
  page->addWidget(
      new EditorialKeycapRow({QStringLiteral("⌃"), QStringLiteral("⇧"), QStringLiteral("D")}, 28, 24, 11, 12));
  page->addWidget(new EditorialRule);
}

void progress(QVBoxLayout* page) {
  page->addWidget(new DSProgressBar(0.0, 4));
  page->addWidget(new DSProgressBar(0.4, 4));
  page->addWidget(new DSProgressBar(1.0, 6));
  auto* sweeping = new DSProgressBar(std::nullopt, 6);
  page->addWidget(sweeping);
  auto* small = new DSSpinner(14);
  auto* large = new DSSpinner(40);
  page->addWidget(hbox({small, large}));
  // Fixed moments of the endless animations, so the pictures are stable.
  sweeping->setSweepTime(500);
  small->setSpinTime(0);
  large->setSpinTime(100);
}

void inputs(QVBoxLayout* page) {
  const QList<DSDropdownOption> options{{QStringLiteral("raw"), QStringLiteral("Raw")},
                                        {QStringLiteral("tidy"), QStringLiteral("Tidy")},
                                        {QStringLiteral("email"), QStringLiteral("Email")},
                                        {QStringLiteral("custom"), QStringLiteral("Custom")}};
  page->addWidget(new DSTextField(QStringLiteral("NAME"), QStringLiteral("e.g. Email"), QString()));
  page->addWidget(new DSTextField(QStringLiteral("NAME"), QString(), QStringLiteral("Meeting notes")));
  auto* open = new DSDropdown(QStringLiteral("TRANSFORMATION"), options, QStringLiteral("tidy"));
  page->addWidget(open);
  page->addWidget(new DSDropdown(QStringLiteral("SECOND"), options, QStringLiteral("raw")));
  page->addSpacing(200);
  open->setProperty("galleryOpen", true);
}

void settings(QVBoxLayout* page) {
  auto* layout = new SettingsPageLayout;
  layout->addContent(new SettingsCompactHeader(QStringLiteral("Configuration")));
  auto* section = new SettingsCardSection(QStringLiteral("BEHAVIOUR"));
  section->addRow(new SettingsRow(QStringLiteral("Show heads-up display"),
                                  QStringLiteral("A small panel shows the level while you speak."), false,
                                  new EditorialToggleButton(true)));
  section->addRow(
      new SettingsRow(QStringLiteral("Restore clipboard"), std::nullopt, true, new EditorialToggleButton(false)));
  auto* hidden = new SettingsRow(QStringLiteral("Hidden row"), std::nullopt, false, nullptr);
  hidden->hide();
  section->addRow(hidden);
  layout->addContent(section);
  auto* spacer = new QWidget;
  spacer->setFixedHeight(24);
  layout->addContent(spacer);
  // Chapter and configured-value rows have no side insets of their own: the
  // pages put them in a column inset 20 px, and so does the gallery.
  auto inset = [](QWidget* row) {
    auto* column = new QWidget;
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(20, 0, 20, 0);
    columnLayout->addWidget(row);
    return column;
  };
  auto* models = new SettingsCardSection(QStringLiteral("MODELS"));
  models->addRow(inset(new SettingsChapterRow(
      1, QStringLiteral("Whisper Small"), QStringLiteral("English only, fast."), true, [] {},
      new EditorialStatusPill(QStringLiteral("ACTIVE"), EditorialStatusPill::Leading::checkmark, DSColor::accent))));
  models->addRow(inset(new SettingsChapterRow(
      2, QStringLiteral("Parakeet"), std::nullopt, false, nullptr,
      new SettingsActionButton(QStringLiteral("trash"), DSColor::danger, true, QStringLiteral("Delete"), [] {}))));
  models->addRow(inset(new SettingsConfiguredValueRow(
      new EditorialStatusPill(QStringLiteral("FILE.WAV"), EditorialStatusPill::Leading::none, DSColor::ink),
      hbox({new SettingsActionButton(QStringLiteral("pencil"), std::nullopt, true, QStringLiteral("Edit"), [] {}),
            new SettingsActionButton(QStringLiteral("doc.on.doc"), std::nullopt, true, QStringLiteral("Copy"), [] {}),
            new SettingsActionButton(QStringLiteral("trash"), DSColor::danger, false, QStringLiteral("Delete"), [] {})},
           8))));
  layout->addContent(models);
  auto* spacer2 = new QWidget;
  spacer2->setFixedHeight(24);
  layout->addContent(spacer2);
  auto* empty = new SettingsCard;
  empty->addRow(new SettingsEmptyRow(QStringLiteral("No entries yet"), QStringLiteral("Words you add appear here.")));
  auto* form = new QWidget;
  auto* formRow = new QHBoxLayout(form);
  formRow->setContentsMargins(20, 12, 20, 12);
  formRow->addWidget(new SettingsInlineField(QStringLiteral("original"), QString(), false, false, Clock::continuous()));
  formRow->addWidget(new SettingsInlineField(QStringLiteral("replacement"), QStringLiteral("Murel"), false, false,
                                             Clock::continuous()));
  formRow->addWidget(new SettingsInlineFormButtons([] {}, [] {}));
  empty->addRow(form);
  auto* multi = new QWidget;
  auto* multiRow = new QHBoxLayout(multi);
  multiRow->setContentsMargins(20, 12, 20, 12);
  multiRow->addWidget(
      new SettingsInlineField(QStringLiteral("expansion"), QString(), true, false, Clock::continuous()));
  empty->addRow(multi);
  layout->addContent(empty);
  layout->setMinimumHeight(1000);
  page->addWidget(layout);
}

void hotkeys(QVBoxLayout* page) {
  const KeyCombo altShiftSpace(Key::space, KeyModifiers::option | KeyModifiers::shift);
  page->addWidget(new HotkeyBindingRow(altShiftSpace, false));
  auto* listening = new ListeningRowFrame(new HotkeyBindingRow(altShiftSpace, true));
  listening->setListening(true);
  page->addWidget(listening);
  auto* unavailable = new HotkeyBindingRow(KeyCombo(Key::d, KeyModifiers::leftControl), false);
  unavailable->setClearable(false);
  unavailable->setUnavailable(true);
  page->addWidget(unavailable);
  page->addWidget(new HotkeyBindingRow(std::nullopt, false));
  page->addWidget(new HotkeyConflictNotice);
  page->addWidget(new ActivationModePicker(ActivationMode::toggle));
}

bool render(const QString& folder, const QString& name, Appearance::Scheme scheme, int width,
            const std::function<void(QVBoxLayout*)>& build) {
  Sheet sheet;
  Appearance::setOverride(&sheet, scheme);
  auto* page = new QVBoxLayout(&sheet);
  page->setContentsMargins(24, 24, 24, 24);
  page->setSpacing(16);
  build(page);
  page->addStretch(1);
  sheet.resize(width, sheet.sizeHint().height());
  sheet.show();
  for (auto* dropdown : sheet.findChildren<DSDropdown*>())
    if (dropdown->property("galleryOpen").toBool()) dropdown->setExpanded(true);
  // Let layouts settle and any open transition finish.
  for (int i = 0; i < 30; ++i) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  const QString suffix = scheme == Appearance::Scheme::Dark ? QStringLiteral("dark") : QStringLiteral("light");
  const QString path = folder + QLatin1Char('/') + name + QLatin1Char('-') + suffix + QStringLiteral(".png");
  if (!sheet.grab().save(path)) {
    std::fprintf(stderr, "murel-gallery: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Pages and panels start at rest, as in any design preview.
  qputenv("XCODE_RUNNING_FOR_PREVIEWS", "1");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: murel-gallery <output folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(folder);
  installTranslations(app);
  Fonts::registerBundled();
  const std::pair<const char*, std::function<void(QVBoxLayout*)>> groups[] = {
      {"core", core},     {"editorial", editorial}, {"progress", progress},
      {"inputs", inputs}, {"settings", settings},   {"hotkeys", hotkeys}};
  bool ok = true;
  for (const auto& [name, build] : groups)
    for (auto scheme : {Appearance::Scheme::Light, Appearance::Scheme::Dark})
      ok = render(folder, QString::fromLatin1(name), scheme, 640, build) && ok;
  return ok ? 0 : 1;
}
