#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace murel::test {

// Runs a program to its end while the Qt event loop turns, so that the
// process's own clipboard can answer it; its standard output, or nothing when
// it failed.
std::optional<QByteArray> runProgram(const QString& program, const QStringList& arguments,
                                     const QByteArray& input = {});

// Puts `data` on an X selection ("clipboard" or "primary") through xclip,
// offered as `target` (xclip's text targets when empty), and waits until xclip serves it.
bool xclipSeed(const QByteArray& data, const QString& target = {},
               const QString& selection = QStringLiteral("clipboard"));
// The selection's data for `target` (UTF8_STRING when empty) as xclip reads it.
std::optional<QByteArray> xclipRead(const QString& target = {}, const QString& selection = QStringLiteral("clipboard"));
// The targets the selection's owner offers, without the X11 meta targets (TARGETS, TIMESTAMP …).
QList<QByteArray> xclipDataTargets(const QString& selection = QStringLiteral("clipboard"));

}  // namespace murel::test
