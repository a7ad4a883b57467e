// The capture driver's Format dialog: frame size and bit depth.
#pragma once

#include "dib.h"

#include <QDialog>
#include <QList>
#include <QSize>

class QComboBox;

// The sizes offered: the device's own when it lists them, otherwise common
// sizes; the source's size and the current one are always among them.
QList<QSize> OfferedSizes(const QList<QSize>& deviceSizes, QSize native, QSize current);

class FormatDialog : public QDialog
{
public:
    FormatDialog(const QList<QSize>& sizes, const FrameFormat& current, QWidget* parent);
    FrameFormat Chosen() const;

private:
    QComboBox* m_size;
    QComboBox* m_depth;
};
