// What a camera is told before its stream starts: the encoding and rate to
// deliver, and the control values stored for it. Runs on whichever thread
// opens the source.
#pragma once

#include "dib.h"
#include "drivers.h"
#include "v4l2.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <optional>

// The mode a size opens in when none was chosen: the encoding with the
// highest rate at that size; on a tie, the one the camera lists first.
std::optional<V4l2Mode> FastestMode(const QList<V4l2Mode>& modes, QSize size);
// The options for FFmpeg's v4l2 input: video_size, input_format and
// framerate as the wanted format and the camera's modes decide.
QList<QPair<QByteArray, QByteArray>> DeviceInputOptions(const QList<V4l2Mode>& modes, QSize current,
                                                        const FrameFormat& wanted);
QList<QPair<QByteArray, QByteArray>> DeviceInputOptions(const CaptureDriver& driver,
                                                        const FrameFormat& wanted);

// The controls to apply whenever the source of that name opens. Set on the
// program's thread, read by the opening one.
void SetSourceControls(const QString& source, const QList<ControlSetting>& controls);
QList<ControlSetting> SourceControls(const QString& source);
// Stored values updated by newer ones, each control once.
QList<ControlSetting> MergedControls(QList<ControlSetting> stored,
                                     const QList<ControlSetting>& newer);
// Auto controls first, each group in the order given.
QList<ControlSetting> ApplyingOrder(QList<ControlSetting> controls);
// Gives the device the source's stored controls. A refused one is skipped,
// and logged the first time only.
void ApplySourceControls(const CaptureDriver& driver);
