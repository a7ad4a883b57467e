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

QList<V4l2Mode> ModesAt(const QList<V4l2Mode>& modes, QSize size)
{
    QList<V4l2Mode> at;
    for (const V4l2Mode& m : modes)
        if (m.size == size)
            at << m;
    std::stable_sort(at.begin(), at.end(),
                     [](const V4l2Mode& a, const V4l2Mode& b) { return a.fps > b.fps; });
    return at;
}

namespace
{

QString ModeLabel(const V4l2Mode& m)
{
    return m.fps > 0 ? QStringLiteral("%1 %2 fps").arg(EncodingLabel(m.encoding)).arg(m.fps)
                     : EncodingLabel(m.encoding);
}

} // namespace

QString SizeLabel(QSize size, const QList<V4l2Mode>& modes)
{
    QString label = QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
    QStringList offered;
    for (const V4l2Mode& m : ModesAt(modes, size))
        offered << ModeLabel(m);
    if (!offered.isEmpty())
        label += QStringLiteral(": ") + offered.join(QStringLiteral(", "));
    return label;
}

FormatDialog::FormatDialog(const QList<QSize>& sizes, const QList<V4l2Mode>& modes,
                           const FrameFormat& current, QWidget* parent)
    : QDialog(parent), m_modes(modes), m_size(new QComboBox(this)), m_encoding(new QComboBox(this)),
      m_depth(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("Video Format"));
    m_size->setObjectName(QStringLiteral("size"));
    m_encoding->setObjectName(QStringLiteral("encoding"));
    m_depth->setObjectName(QStringLiteral("depth"));
    for (const QSize& s : sizes)
        m_size->addItem(SizeLabel(s, m_modes), s);
    m_size->setCurrentIndex(std::max(0, m_size->findData(QSize(current.width, current.height))));
    FillEncodings(current.encoding);
    connect(m_size, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { FillEncodings(m_encoding->currentData().toUInt()); });
    m_depth->addItem(QStringLiteral("24 bit colour (RGB)"), 24);
    m_depth->addItem(QStringLiteral("16 bit colour (RGB555)"), 16);
    m_depth->addItem(QStringLiteral("8 bit grey"), 8);
    m_depth->setCurrentIndex(std::max(0, m_depth->findData(current.bitCount)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("&Size:"), m_size);
    layout->addRow(QStringLiteral("&Encoding:"), m_encoding);
    layout->addRow(QStringLiteral("&Colour depth:"), m_depth);
    layout->addRow(buttons);
}

// Each size lists its own encodings; the one chosen stays chosen where the
// new size offers it too.
void FormatDialog::FillEncodings(std::uint32_t encoding)
{
    const QList<V4l2Mode> at = ModesAt(m_modes, m_size->currentData().toSize());
    m_encoding->clear();
    m_encoding->addItem(at.isEmpty() ? QStringLiteral("As the source delivers")
                                     : QStringLiteral("Fastest (%1)").arg(ModeLabel(at.front())),
                        0u);
    for (const V4l2Mode& m : at)
        m_encoding->addItem(ModeLabel(m), m.encoding);
    m_encoding->setCurrentIndex(std::max(0, m_encoding->findData(encoding)));
    m_encoding->setEnabled(!at.isEmpty());
}

FrameFormat FormatDialog::Chosen() const
{
    const QSize s = m_size->currentData().toSize();
    FrameFormat chosen{s.width(), s.height(), m_depth->currentData().toInt()};
    chosen.encoding = m_encoding->currentData().toUInt();
    for (const V4l2Mode& m : ModesAt(m_modes, s))
        if (chosen.encoding && m.encoding == chosen.encoding)
            chosen.fps = m.fps;
    return chosen;
}
