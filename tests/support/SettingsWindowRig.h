#pragma once
// A settings window on the rig's X server for the settings page tests: the
// settings view in a top-level window of its own, opened on a tab, with
// screenshots in light and dark and the list of every text it shows.

#include "app/SettingsNavigator.h"
#include "design/Appearance.h"
#include "settings/SettingsView.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace murel {
class AudioDeviceManager;
namespace platform {
class SoundServer;
}
}  // namespace murel

namespace murel::test {

class SettingsWindowRig {
 public:
  // Opens the window on `tab` with these pages and waits until it is mapped
  // and at rest (fade-in done).
  explicit SettingsWindowRig(SettingsTab tab, const SettingsPages& pages = SettingsPages());
  ~SettingsWindowRig();
  SettingsWindowRig(const SettingsWindowRig&) = delete;
  SettingsWindowRig& operator=(const SettingsWindowRig&) = delete;

  QWidget& window() { return *window_; }
  SettingsView& view() { return *view_; }
  SettingsNavigator& navigator() { return navigator_; }
  AudioDeviceManager& audioDeviceManager() { return *audio_; }
  // Selects a tab through the navigator and lets the page settle.
  void show(SettingsTab tab);

 private:
  SettingsPages pages_;
  SettingsNavigator navigator_;
  std::unique_ptr<platform::SoundServer> sound_;  // the rig's, behind the device manager
  std::unique_ptr<AudioDeviceManager> audio_;
  std::unique_ptr<QWidget> window_;
  SettingsView* view_ = nullptr;
};

// Renders `window` in the scheme to build/screenshots/settings/<name>-<light|dark>.png,
// with its open child windows (a sheet, an alert) drawn where they stand over
// it, and each of those on its own as <name>-sheetN-<scheme>.png; returns the
// path of the main picture.
QString settingsScreenshot(QWidget& window, const QString& name, Appearance::Scheme scheme);

// Every text `root` shows now: text labels, button texts, pills, stock labels
// and fields, accessible names; hidden widgets left out.
QStringList visibleTexts(QWidget* root);

// The texts among `texts` that are raw localisation ids (an id of the built
// English table, or dotted lower-camel words such as "settings.nav.title").
QStringList rawKeysAmong(const QStringList& texts);

// What is wrong with how the scrolling pages shown in `root` fit their
// content, one line per fault (none when all is well): each page's column is
// exactly as wide as the page, no view in it reaches past its right edge, and
// its scroll range ends the page's bottom space past the last view shown.
QStringList pageExtentFaults(QWidget* root);

// Clicks with the real pointer (xdotool) at a point of `widget`.
bool clickAt(QWidget* widget, QPoint point);
bool clickCentre(QWidget* widget);
// Moves the real pointer over a point of `widget`.
bool hoverAt(QWidget* widget, QPoint point);

// Processes events (and deferred deletes) for `ms` milliseconds.
void settle(int ms);

}  // namespace murel::test
