#include "sourcedlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSlider>

SourceDialog::SourceDialog(const QList<V4l2Control>& controls, Setter set, QWidget* parent)
    : QDialog(parent), m_controls(controls), m_set(std::move(set))
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
          [path](unsigned id, int value) { return SetDeviceControl(path, id, value); }, parent)
{
}

QWidget* SourceDialog::Editor(const V4l2Control& c)
{
    const unsigned id = c.id;
    auto apply = [this, id](int value) { m_set(id, value); };
    QWidget* editor = nullptr;
    if (c.kind == V4l2Control::Boolean) {
        auto* box = new QCheckBox(this);
        box->setChecked(c.value != 0);
        connect(box, &QCheckBox::toggled, this, [apply](bool on) { apply(on ? 1 : 0); });
        editor = box;
    } else if (c.kind == V4l2Control::Menu) {
        auto* combo = new QComboBox(this);
        for (const auto& entry : c.menu)
            combo->addItem(entry.second, entry.first);
        combo->setCurrentIndex(combo->findData(c.value));
        connect(combo, qOverload<int>(&QComboBox::activated), this,
                [combo, apply](int index) { apply(combo->itemData(index).toInt()); });
        editor = combo;
    } else {
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(c.minimum, c.maximum);
        slider->setSingleStep(c.step);
        slider->setPageStep(c.step);
        slider->setValue(c.value);
        connect(slider, &QSlider::valueChanged, this, apply);
        editor = slider;
    }
    editor->setObjectName(QStringLiteral("control%1").arg(id));
    return editor;
}

void SourceDialog::Restore()
{
    for (const V4l2Control& c : m_controls)
        m_set(c.id, c.value);
}
