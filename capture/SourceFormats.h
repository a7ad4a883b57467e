// The format chosen for each capture source, as the settings store keeps it:
// one value per source name, "WIDTHxHEIGHTxBITS".
#pragma once

#include "platform/vfw/dib.h"

#include <QByteArray>
#include <QString>

// The value name of a source: its name with "%", "/", "\\" and bytes outside
// printable ASCII percent-encoded, so that no name (a card's text may hold
// anything) can reach into another section or value.
QByteArray SourceFormatEntry(const QString& source);
QString SourceFormatText(const FrameFormat& format);
// False, leaving *format alone, for anything but three whole numbers giving a
// size of 1 to 8192 by 1 to 8192 at 8, 16 or 24 bits.
bool ParseSourceFormat(const QString& text, FrameFormat* format);
