#include "Overlay.h"

#include "CaptionFields.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace
{
constexpr int kMargin = 2;
// A logo is small; this bounds what a wrong file can make us decode.
constexpr std::size_t kMaxFileBytes = 16u << 20;

bool SameFile(const struct stat& st, const struct timespec& modified, off_t size, ino_t inode)
{
    return st.st_mtim.tv_sec == modified.tv_sec && st.st_mtim.tv_nsec == modified.tv_nsec &&
           st.st_size == size && st.st_ino == inode;
}
// The image in the file; null with the reason. st is zeroed when the file
// could not be read at all.
QImage ReadOverlayFile(const QString& path, struct stat* st, QString* why)
{
    QByteArray bytes;
    if (!ReadRegularFile(QFile::encodeName(path), kMaxFileBytes + 1, &bytes, st, why)) {
        std::memset(st, 0, sizeof *st);
        return QImage();
    }
    if (std::size_t(bytes.size()) > kMaxFileBytes) {
        *why = QStringLiteral("larger than 16 MB");
        return QImage();
    }
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    const QImage image = reader.read();
    if (image.isNull())
        *why = reader.errorString();
    return image;
}
} // namespace

QString CheckOverlayImage(const QString& path)
{
    struct stat st;
    QString why;
    return ReadOverlayFile(path, &st, &why).isNull() ? why : QString();
}

QRect OverlayRect(QSize image, int width, int height, int position)
{
    if (image.isEmpty() || width <= 2 * kMargin || height <= 2 * kMargin)
        return QRect();
    const double scale = std::min(
        {1.0, double(width / 4) / image.width(), double(height - 2 * kMargin) / image.height()});
    const int w = int(std::lround(image.width() * scale));
    const int h = int(std::lround(image.height() * scale));
    if (w <= 0 || h <= 0)
        return QRect();
    if (position < 0 || position > 8)
        position = 8;
    const int horz = position % 3, vert = position / 3;
    const int x = horz == 0 ? kMargin : horz == 1 ? (width - w) / 2 : width - w - kMargin;
    const int y = vert == 0 ? kMargin : vert == 1 ? (height - h) / 2 : height - h - kMargin;
    return QRect(x, y, w, h);
}

QImage PrepareOverlay(const QImage& image, QSize size, int opacity)
{
    QImage layer(size, QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull())
        return layer;
    layer.fill(Qt::transparent);
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(std::clamp(opacity, 0, 100) / 100.0);
    painter.drawImage(layer.rect(), image);
    return layer;
}

const QImage* OverlayImage::Layer(const QString& path, int position, int opacity, int width,
                                  int height, std::time_t now, QRect* where, QString* problem)
{
    if (path != m_path) {
        *this = OverlayImage();
        m_path = path;
    }
    if (path.isEmpty() || opacity <= 0)
        return nullptr;
    if (!m_checked || now != m_checkedAt) {
        m_checked = true;
        m_checkedAt = now;
        struct stat st;
        const bool changed = ::stat(QFile::encodeName(path).constData(), &st) != 0 ||
                             !SameFile(st, m_modified, m_size, m_inode);
        if (changed)
            Reload(problem);
    }
    if (m_image.isNull())
        return nullptr;
    if (m_layer.isNull() || position != m_position || opacity != m_opacity || width != m_width ||
        height != m_height) {
        m_position = position, m_opacity = opacity, m_width = width, m_height = height;
        m_where = OverlayRect(m_image.size(), width, height, position);
        m_layer = m_where.isEmpty() ? QImage() : PrepareOverlay(m_image, m_where.size(), opacity);
    }
    if (m_layer.isNull())
        return nullptr;
    *where = m_where;
    return &m_layer;
}

void OverlayImage::Reload(QString* problem)
{
    m_layer = QImage();
    m_size = -1;
    struct stat st;
    QString why;
    m_image = ReadOverlayFile(m_path, &st, &why);
    if (st.st_ino) {
        m_modified = st.st_mtim;
        m_size = st.st_size;
        m_inode = st.st_ino;
    }
    if (!m_image.isNull()) {
        m_reported = false;
        return;
    }
    if (!m_reported)
        *problem = QStringLiteral("Overlay image %1 cannot be used (%2); pictures go out without "
                                  "it")
                       .arg(m_path, why);
    m_reported = true;
}

OverlayImage& Overlay()
{
    static OverlayImage overlay;
    return overlay;
}
