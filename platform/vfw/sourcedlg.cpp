#include "sourcedlg.h"

#include "devicesetup.h"
#include "log.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

SourceDialog::SourceDialog(const QList<V4l2Control>& controls, Setter set, QWidget* parent,
                           Query query)
    : QDialog(parent), m_controls(controls), m_set(std::move(set)), m_query(std::move(query))
{
    setWindowTitle(QStringLiteral("Video Source"));
    auto* layout = new QFormLayout(this);
    for (const V4l2Control& c : m_controls)
        layout->addRow(c.name + QLatin1Char(':'), Editor(c));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}

SourceDialog::SourceDialog(const QString& path, QWidget* parent)
    : SourceDialog(
          DeviceControls(path),
          [path](unsigned id, int value) { return SetDeviceControl(path, id, value); }, parent,
          [path] { return DeviceControls(path); })
{
}

QWidget* SourceDialog::Editor(const V4l2Control& c)
{
    const unsigned id = c.id;
    QWidget* editor = nullptr;
    if (c.kind == V4l2Control::Boolean) {
        auto* box = new QCheckBox(this);
        box->setChecked(c.value != 0);
        connect(box, &QCheckBox::toggled, this,
                [this, id](bool on) { Apply(id, on ? 1 : 0, true); });
        editor = box;
    } else if (c.kind == V4l2Control::Menu) {
        auto* combo = new QComboBox(this);
        for (const auto& entry : c.menu)
            combo->addItem(entry.second, entry.first);
        combo->setCurrentIndex(combo->findData(c.value));
        connect(combo, qOverload<int>(&QComboBox::activated), this,
                [this, combo, id](int index) { Apply(id, combo->itemData(index).toInt(), true); });
        editor = combo;
    } else {
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(c.minimum, c.maximum);
        slider->setSingleStep(c.step);
        slider->setPageStep(c.step);
        slider->setValue(c.value);
        connect(slider, &QSlider::valueChanged, this, [this, id](int v) { Apply(id, v, false); });
        editor = slider;
    }
    editor->setObjectName(QStringLiteral("control%1").arg(id));
    editor->setEnabled(!c.inactive);
    m_editors.insert(id, editor);
    return editor;
}

// Only a switch or a choice can govern other controls, so only they make the
// dialog ask the device again.
void SourceDialog::Apply(unsigned id, int value, bool governs)
{
    if (!m_set(id, value))
        return;
    auto it = std::find_if(m_changed.begin(), m_changed.end(),
                           [id](const ControlSetting& c) { return c.id == id; });
    if (it != m_changed.end())
        it->value = value;
    else
        m_changed << ControlSetting{id, value};
    if (governs)
        Refresh();
}

void SourceDialog::Refresh()
{
    if (!m_query)
        return;
    for (const V4l2Control& c : m_query()) {
        QWidget* editor = m_editors.value(c.id);
        if (!editor)
            continue;
        const QSignalBlocker quiet(editor);
        editor->setEnabled(!c.inactive);
        if (auto* slider = qobject_cast<QSlider*>(editor))
            slider->setValue(c.value);
        else if (auto* box = qobject_cast<QCheckBox*>(editor))
            box->setChecked(c.value != 0);
        else if (auto* combo = qobject_cast<QComboBox*>(editor))
            combo->setCurrentIndex(combo->findData(c.value));
    }
}

void SourceDialog::Restore()
{
    QList<ControlSetting> found;
    for (const V4l2Control& c : m_controls)
        for (const ControlSetting& changed : m_changed)
            if (changed.id == c.id)
                found << ControlSetting{c.id, c.value};
    QList<ControlSetting> refused;
    for (const ControlSetting& c : ApplyingOrder(found))
        if (!m_set(c.id, c.value))
            refused << c;
    for (const ControlSetting& c : refused) {
        if (m_set(c.id, c.value))
            continue;
        const auto known = std::find_if(m_controls.begin(), m_controls.end(),
                                        [&](const V4l2Control& k) { return k.id == c.id; });
        LogLine("capture", QStringLiteral("The camera refused to put '%1' back to %2.")
                               .arg(known->name)
                               .arg(c.value));
    }
    m_changed.clear();
}
