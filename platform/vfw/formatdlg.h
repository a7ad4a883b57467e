// The capture driver's Format dialog: frame size, a camera's encoding and
// rate, and bit depth.
#pragma once

#include "dib.h"
#include "v4l2.h"

#include <QDialog>
#include <QList>
#include <QSize>

class QComboBox;

// The sizes offered: the device's own when it lists them, otherwise common
// sizes; the source's size and the current one are always among them.
QList<QSize> OfferedSizes(const QList<QSize>& deviceSizes, QSize native, QSize current);
// The encodings a camera offers at a size, fastest first.
QList<V4l2Mode> ModesAt(const QList<V4l2Mode>& modes, QSize size);
// "1920 x 1080: MJPEG 30 fps, YUYV 5 fps".
QString SizeLabel(QSize size, const QList<V4l2Mode>& modes);

class FormatDialog : public QDialog
{
public:
    FormatDialog(const QList<QSize>& sizes, const FrameFormat& current, QWidget* parent)
        : FormatDialog(sizes, {}, current, parent)
    {
    }
    // modes: a camera's, to choose the encoding from; empty for other sources.
    FormatDialog(const QList<QSize>& sizes, const QList<V4l2Mode>& modes,
                 const FrameFormat& current, QWidget* parent);
    FrameFormat Chosen() const;

private:
    void FillEncodings(std::uint32_t encoding);

    QList<V4l2Mode> m_modes;
    QComboBox* m_size;
    QComboBox* m_encoding;
    QComboBox* m_depth;
};
