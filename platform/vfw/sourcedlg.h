// The capture driver's Source dialog: the device's own controls, applied as
// they change so the live picture shows the effect.
#pragma once

#include "v4l2.h"

#include <QDialog>
#include <QHash>
#include <functional>

class SourceDialog : public QDialog
{
public:
    using Setter = std::function<bool(unsigned id, int value)>;
    // The controls as the device describes them now: an auto control turned
    // on or off makes the manual ones it governs inactive or active.
    using Query = std::function<QList<V4l2Control>()>;
    SourceDialog(const QList<V4l2Control>& controls, Setter set, QWidget* parent, Query query = {});
    // The device's controls at the node's path.
    SourceDialog(const QString& path, QWidget* parent);

    // The values the device took from this dialog, each control once.
    const QList<ControlSetting>& Changed() const { return m_changed; }
    // Puts back the values the dialog found of the controls it changed, auto
    // controls first; one refused is tried again once after the others, then
    // logged.
    void Restore();

private:
    QWidget* Editor(const V4l2Control& control);
    void Apply(unsigned id, int value, bool governs);
    void Refresh();

    QList<V4l2Control> m_controls;
    Setter m_set;
    Query m_query;
    QHash<unsigned, QWidget*> m_editors;
    QList<ControlSetting> m_changed;
};
