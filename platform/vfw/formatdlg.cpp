#include "formatdlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <algorithm>

QList<QSize> OfferedSizes(const QList<QSize>& deviceSizes, QSize native, QSize current)
{
    static const QSize kCommon[] = {{160, 120},  {176, 144},  {320, 240},  {352, 288},
                                    {384, 288},  {640, 480},  {704, 576},  {800, 600},
                                    {1024, 768}, {1280, 720}, {1920, 1080}};
    QList<QSize> sizes = deviceSizes;
    if (sizes.isEmpty())
        sizes = QList<QSize>(std::begin(kCommon), std::end(kCommon));
    for (const QSize& s : {native, current})
        if (!s.isEmpty() && !sizes.contains(s))
            sizes << s;
    std::sort(sizes.begin(), sizes.end(), [](const QSize& a, const QSize& b) {
        const qint64 areaA = qint64(a.width()) * a.height(), areaB = qint64(b.width()) * b.height();
        return areaA != areaB ? areaA < areaB : a.width() < b.width();
    });
    return sizes;
}

FormatDialog::FormatDialog(const QList<QSize>& sizes, const FrameFormat& current, QWidget* parent)
    : QDialog(parent), m_size(new QComboBox(this)), m_depth(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Video Format"));
    m_size->setObjectName(QStringLiteral("size"));
    m_depth->setObjectName(QStringLiteral("depth"));
    for (const QSize& s : sizes)
        m_size->addItem(QStringLiteral("%1 x %2").arg(s.width()).arg(s.height()), s);
    m_size->setCurrentIndex(std::max(0, m_size->findData(QSize(current.width, current.height))));
    m_depth->addItem(QStringLiteral("24 bit colour (RGB)"), 24);
    m_depth->addItem(QStringLiteral("16 bit colour (RGB555)"), 16);
    m_depth->addItem(QStringLiteral("8 bit grey"), 8);
    m_depth->setCurrentIndex(std::max(0, m_depth->findData(current.bitCount)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("&Size:"), m_size);
    layout->addRow(QStringLiteral("&Colour depth:"), m_depth);
    layout->addRow(buttons);
}

FrameFormat FormatDialog::Chosen() const
{
    const QSize s = m_size->currentData().toSize();
    return {s.width(), s.height(), m_depth->currentData().toInt()};
}
