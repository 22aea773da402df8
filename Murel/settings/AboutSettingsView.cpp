#include "settings/AboutSettingsView.h"

#include "app/DiagnosticsReport.h"
#include "app/FilePanels.h"
#include "design/AboutDetailSheet.h"
#include "design/Appearance.h"
#include "design/EditorialComponents.h"
#include "design/InputComponents.h"
#include "design/SettingsComponents.h"
#include "design/Sheets.h"
#include "design/Text.h"
#include "settings/AcknowledgementsList.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace murel {

namespace {

constexpr int kRowInset = 20;

// A row wrapped with the card's 20 px side insets.
QWidget* inset(QWidget* content, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(kRowInset, 0, kRowInset, 0);
  layout->setSpacing(0);
  layout->addWidget(content);
  return box;
}

EditorialStatusPill* pill(const QString& label, DSColor tint) {
  return new EditorialStatusPill(label, EditorialStatusPill::Leading::none, tint);
}

TextStyle hintStyle(DSColor color) { return TextStyle{notoSansItalic(14), 4, color}; }

// The first support row: numbered like a chapter row, its address selectable.
QWidget* emailRow(QWidget** email, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 20, 0, 20);
  layout->setSpacing(20);
  layout->addWidget(new EditorialChapterNumeral(1, false, true, row), 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  //% "Email"
  //: Label for the support email contact row.
  column->addWidget(new TextLabel(qtTrId("settings.nav.about.contact.label"),
                                  TextStyle{dsFont(DSFont::subheading), 2, DSColor::ink}, row));
  *email = new SelectableText(supportEmailAddress(), dsFont(DSFont::body), DSColor::inkSecondary, row);
  column->addWidget(*email);
  column->addStretch(1);
  layout->addLayout(column, 1);
  return row;
}

}  // namespace

QString aboutSectionRawValue(AboutSection section) {
  return section == AboutSection::support ? QStringLiteral("support") : QStringLiteral("acknowledgements");
}

QString aboutSectionTitle(AboutSection section) {
  switch (section) {
    case AboutSection::support:
      //% "SUPPORT"
      //: Section header above the support contact row in the About pane.
      return qtTrId("settings.nav.about.support.section");
    case AboutSection::acknowledgements:
      //% "ACKNOWLEDGEMENTS"
      //: Section header above the open-source libraries and models list in the About pane.
      return qtTrId("settings.nav.about.acknowledgements.section");
  }
  return {};
}

QString aboutSectionSummary(AboutSection section) {
  switch (section) {
    case AboutSection::support:
      //% "reach us or export a diagnostics log."
      //: One-line summary on the About tab row that opens the Support sheet.
      return qtTrId("settings.nav.about.support.row");
    case AboutSection::acknowledgements:
      //% "the open-source projects Murel is built on."
      //: One-line summary on the About tab row that opens the Acknowledgements sheet.
      return qtTrId("settings.nav.about.acknowledgements.row");
  }
  return {};
}

QString supportEmailAddress() { return QStringLiteral("support@murel.com"); }

QUrl privacyPolicyURL() { return QUrl(QStringLiteral("https://murel.com/privacy")); }

// SupportSheetContent

SupportSheetContent::SupportSheetContent(Workspace& workspace, const DiagnosticsSources& diagnostics, QWidget* parent)
    : QWidget(parent), workspace_(workspace), diagnostics_(diagnostics) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(emailRow(&email_, this));

  //% "Privacy policy"
  //: Label for the row that opens the Murel privacy policy.
  const QString privacyLabel = qtTrId("settings.nav.about.privacyPolicy.label");
  //% "how Murel handles your data"
  const QString privacyDescription = qtTrId("settings.nav.about.privacyPolicy.description");
  //% "OPEN"
  //: Status pill on the privacy policy row indicating it opens in a browser.
  const QString openPill = qtTrId("settings.nav.about.privacyPolicy.pill");
  privacyRow_ = new SettingsChapterRow(
      2, privacyLabel, privacyDescription, false, [this] { workspace_.openURL(privacyPolicyURL()); },
      pill(openPill, DSColor::inkSecondary), this);
  column->addWidget(privacyRow_);

  //% "Diagnostics"
  //: Label for the row that exports a diagnostics log for support.
  const QString diagnosticsLabel = qtTrId("settings.nav.about.diagnostics.label");
  //% "share a log with us"
  const QString diagnosticsDescription = qtTrId("settings.nav.about.diagnostics.description");
  //% "EXPORT"
  //: Status pill on the diagnostics row prompting the user to export the log.
  const QString exportPill = qtTrId("settings.nav.about.diagnostics.pill");
  diagnosticsRow_ = new SettingsChapterRow(
      3, diagnosticsLabel, diagnosticsDescription, false, [this] { exportDiagnostics(); },
      pill(exportPill, DSColor::accent), this);
  column->addWidget(diagnosticsRow_);

  //% "questions, feedback, or a bug — get in touch."
  //: Italic helper line under the support email in the About pane.
  auto* hint = new TextLabel(qtTrId("settings.nav.about.contact.helper"), hintStyle(DSColor::inkMuted), this);
  column->addSpacing(16);
  auto* hintRow = new QHBoxLayout;
  hintRow->setContentsMargins(4, 0, 0, 0);
  hintRow->addWidget(hint);
  column->addLayout(hintRow);

  //% "saved — attach it to an email to "
  //: Inline confirmation after the diagnostics log is saved; prompts emailing it to support. The address follows.
  confirmation_ = new TextLabel(qtTrId("settings.nav.about.diagnostics.saved") + supportEmailAddress(),
                                hintStyle(DSColor::accent), this);
  auto* confirmationBox = new QWidget(this);
  auto* confirmationRow = new QVBoxLayout(confirmationBox);
  confirmationRow->setContentsMargins(4, 8, 0, 0);
  confirmationRow->addWidget(confirmation_);
  confirmationBox->setVisible(false);
  column->addWidget(confirmationBox);
}

void SupportSheetContent::exportDiagnostics() {
  // The save panel is modal; the report is built only once a location is chosen.
  if (!exportDiagnosticsReport(diagnostics_)) return;
  diagnosticsSaved_ = true;
  confirmation_->parentWidget()->setVisible(true);
}

// AboutSettingsView

AboutSettingsView::AboutSettingsView(Workspace& workspace, const DiagnosticsSources& diagnostics, QWidget* parent)
    : QWidget(parent), workspace_(workspace), diagnostics_(diagnostics) {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* page = new SettingsPageLayout(this);
  outer->addWidget(page);

  //% "About"
  //: Page header title for the About settings pane.
  page->addContent(new SettingsCompactHeader(qtTrId("settings.nav.about.title"), page));

  //% "ESSENTIALS"
  //: Section header above the short feature/value list in the About pane.
  auto* essentials = new SettingsCardSection(qtTrId("settings.nav.about.essentials.section"), page);
  auto* stack = new QWidget(essentials);
  auto* stackLayout = new QVBoxLayout(stack);
  stackLayout->setContentsMargins(kRowInset, 0, kRowInset, 0);
  stackLayout->setSpacing(0);
  const std::pair<QString, QString> facts[] = {
      //% "Speak, get text"
      //: Label for the dictation capability row.
      {qtTrId("settings.nav.about.capture.label"),
       //% "Hold your hotkey, talk, and release. The words land where your cursor is."
       qtTrId("settings.nav.about.capture.description")},
      //% "Stay in your flow"
      //: Label for the menu-bar workflow row.
      {qtTrId("settings.nav.about.flow.label"),
       //% "Dictate into any app without leaving what you're doing."
       qtTrId("settings.nav.about.flow.description")},
      //% "Yours alone"
      //: Label for the privacy row.
      {qtTrId("settings.nav.about.private.label"),
       //% "Your voice is transcribed on your computer and never leaves it."
       qtTrId("settings.nav.about.private.description")},
      //% "Always ready"
      //: Label for the no-account / offline row.
      {qtTrId("settings.nav.about.ready.label"),
       //% "No account, no sign-in, and it keeps working offline."
       qtTrId("settings.nav.about.ready.description")},
  };
  int index = 0;
  for (const auto& [label, description] : facts) {
    auto* row = new SettingsChapterRow(++index, label, description, false, nullptr, nullptr, stack);
    essentials_.append(row);
    stackLayout->addWidget(row);
  }
  essentials->addRow(stack);
  page->addContent(essentials);

  auto* gap = new QWidget(page);
  gap->setFixedHeight(24);
  page->addContent(gap);

  auto* sheets = new SettingsCard(page);
  //% "OPEN"
  //: Pill on an About tab row indicating it opens a sheet when tapped.
  const QString open = qtTrId("settings.nav.about.row.open");
  index = 0;
  for (AboutSection section : {AboutSection::support, AboutSection::acknowledgements}) {
    auto* row = new SettingsChapterRow(
        ++index, aboutSectionTitle(section), aboutSectionSummary(section), false, [this, section] { present(section); },
        pill(open, DSColor::inkSecondary));
    row->setObjectName(aboutSectionRawValue(section));
    sections_.append(row);
    sheets->addRow(inset(row, sheets));
  }
  page->addContent(sheets);
}

void AboutSettingsView::present(AboutSection section) {
  if (presented_) return;
  presented_ = section;
  QWidget* body = nullptr;
  if (section == AboutSection::support)
    body = new SupportSheetContent(workspace_, diagnostics_);
  else
    body = new AcknowledgementsList(workspace_);
  sheet_ = new AboutDetailSheet(aboutSectionTitle(section), body);
  sheet_->setObjectName(aboutSectionRawValue(section));
  connect(sheet_, &AboutDetailSheet::closeRequested, this, &AboutSettingsView::dismiss);
  sheetWindow_ = presentDetailSheet(this, sheet_, [this] {
    presented_.reset();
    Q_EMIT presentedSectionChanged();
  });
  Q_EMIT presentedSectionChanged();
}

void AboutSettingsView::dismiss() {
  if (sheetWindow_) sheetWindow_->close();
}

QDialog* presentDetailSheet(QWidget* over, AboutDetailSheet* sheet, std::function<void()> closed) {
  auto* dialog = new QDialog(over);
  dialog->setObjectName(QStringLiteral("sheet-") + sheet->objectName());
  dialog->setWindowTitle(sheet->titleLabel()->text());
  auto* layout = new QVBoxLayout(dialog);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(sheet);
  QObject::connect(dialog, &QDialog::finished, dialog, [closed = std::move(closed)] {
    if (closed) closed();
  });
  presentAsSheet(dialog, over);
  return dialog;
}

}  // namespace murel
