// What the settings store keeps for each capture source, one value per source
// name: its format, "WIDTHxHEIGHTxBITS" optionally followed by " ENCODING@FPS"
// (a camera's encoding and rate), and its controls, "ID=VALUE,ID=VALUE".
#pragma once

#include "platform/vfw/devicesetup.h"
#include "platform/vfw/dib.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The value name of a source: its name with "%", "/", "\\" and bytes outside
// printable ASCII percent-encoded, so that no name (a card's text may hold
// anything) can reach into another section or value.
QByteArray SourceFormatEntry(const QString& source);
QString SourceFormatText(const FrameFormat& format);
// False, leaving *format alone, for anything but three whole numbers giving a
// size of 1 to 8192 by 1 to 8192 at 8, 16 or 24 bits. A bad encoding part
// after a good size gives true with the fastest encoding, and says why in
// *problem.
bool ParseSourceFormat(const QString& text, FrameFormat* format, QString* problem = nullptr);

QString ControlSettingsText(const QList<ControlSetting>& controls);
// The well-formed pairs; each other piece is named in *problems.
QList<ControlSetting> ParseControlSettings(const QString& text, QStringList* problems);
