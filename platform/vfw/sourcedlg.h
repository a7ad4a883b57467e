// The capture driver's Source dialog: the device's own controls, applied as
// they change so the live picture shows the effect.
#pragma once

#include "v4l2.h"

#include <QDialog>
#include <functional>

class SourceDialog : public QDialog
{
public:
    using Setter = std::function<bool(unsigned id, int value)>;
    SourceDialog(const QList<V4l2Control>& controls, Setter set, QWidget* parent);
    // The device's controls at the node's path.
    SourceDialog(const QString& path, QWidget* parent);

    // Puts back the values the dialog found.
    void Restore();

private:
    QWidget* Editor(const V4l2Control& control);

    QList<V4l2Control> m_controls;
    Setter m_set;
};
