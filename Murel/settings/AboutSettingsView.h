#pragma once

#include "app/DiagnosticsReport.h"
#include "design/AboutDetailSheet.h"

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>

namespace murel {

class SettingsChapterRow;
class TextLabel;
class Workspace;

// The sheets the about page opens, in row order.
enum class AboutSection { support, acknowledgements };
QString aboutSectionRawValue(AboutSection section);
// "SUPPORT", "ACKNOWLEDGEMENTS": the row label and the sheet's title.
QString aboutSectionTitle(AboutSection section);
QString aboutSectionSummary(AboutSection section);

// The deployment's support addresses.
QString supportEmailAddress();
QUrl privacyPolicyURL();

// The support sheet's body: the e-mail address (selectable, starts no mail),
// the privacy page, and the diagnostics export with its confirmation line.
class SupportSheetContent : public QWidget {
  Q_OBJECT

 public:
  // The privacy page opens through `workspace`; the report is read and saved through `diagnostics`.
  SupportSheetContent(Workspace& workspace, const DiagnosticsSources& diagnostics, QWidget* parent = nullptr);

  bool diagnosticsSaved() const { return diagnosticsSaved_; }
  SettingsChapterRow* privacyRow() const { return privacyRow_; }
  SettingsChapterRow* diagnosticsRow() const { return diagnosticsRow_; }
  TextLabel* confirmationLabel() const { return confirmation_; }
  QWidget* emailText() const { return email_; }

 private:
  void exportDiagnostics();

  Workspace& workspace_;
  DiagnosticsSources diagnostics_;
  bool diagnosticsSaved_ = false;
  SettingsChapterRow* privacyRow_;
  SettingsChapterRow* diagnosticsRow_;
  TextLabel* confirmation_;
  QWidget* email_;
};

// The about page: what Murel is for in four rows, and two rows that open the
// support and acknowledgements sheets, window-modal over the settings window.
class AboutSettingsView : public QWidget {
  Q_OBJECT

 public:
  // The open sheet is a child window of the page: a tab switch discards it.
  // Web pages open through `workspace`; the support sheet exports from `diagnostics`.
  AboutSettingsView(Workspace& workspace, const DiagnosticsSources& diagnostics, QWidget* parent = nullptr);

  std::optional<AboutSection> presentedSection() const { return presented_; }
  void present(AboutSection section);
  // The sheet on screen, if any.
  QDialog* sheetWindow() const { return sheetWindow_; }
  AboutDetailSheet* sheet() const { return sheet_; }
  QList<SettingsChapterRow*> essentialsRows() const { return essentials_; }
  QList<SettingsChapterRow*> sectionRows() const { return sections_; }

 Q_SIGNALS:
  void presentedSectionChanged();

 private:
  void dismiss();

  Workspace& workspace_;
  DiagnosticsSources diagnostics_;
  std::optional<AboutSection> presented_;
  QPointer<QDialog> sheetWindow_;
  QPointer<AboutDetailSheet> sheet_;
  QList<SettingsChapterRow*> essentials_;
  QList<SettingsChapterRow*> sections_;
};

// Shows a detail sheet as a window-modal sheet over `over`'s window (see
// presentAsSheet: centred, the window dimmed behind it, Escape closing it like
// CLOSE). The dialog deletes itself once closed; `closed` runs first.
QDialog* presentDetailSheet(QWidget* over, AboutDetailSheet* sheet, std::function<void()> closed);

}  // namespace murel
