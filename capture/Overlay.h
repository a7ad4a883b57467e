// An image drawn on every picture before the caption, such as a logo with
// transparency: read once, and again when its file changes.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <ctime>
#include <sys/types.h>

// Where an image of this size goes on a picture: scaled down to at most a
// quarter of the picture's width (and within its height), 2 pixels from the
// edges at position 3 x vertical + horizontal, 0 top left to 8 bottom right;
// other positions bottom right. Empty when it does not fit at all.
QRect OverlayRect(QSize image, int width, int height, int position);

// The image as it is blended: premultiplied, scaled to size, opacity (0 to
// 100 percent) applied.
QImage PrepareOverlay(const QImage& image, QSize size, int opacity);

// Why the file cannot serve as the overlay image; empty when it can.
QString CheckOverlayImage(const QString& path);

class OverlayImage
{
public:
    // The layer to blend for a picture of this size and where it goes; null
    // when there is none or the file cannot be used, in which case problem
    // gets a status text once each time the file goes wrong. The file is
    // looked at no more than once a second (now is the caller's clock).
    const QImage* Layer(const QString& path, int position, int opacity, int width, int height,
                        std::time_t now, QRect* where, QString* problem);

private:
    void Reload(QString* problem);

    QString m_path;
    std::time_t m_checkedAt = 0;
    bool m_checked = false;
    // The file as last read: changed when any of these differ.
    struct timespec m_modified = {};
    off_t m_size = -1;
    ino_t m_inode = 0;
    QImage m_image;
    bool m_reported = false;

    QImage m_layer;
    QRect m_where;
    int m_position = -1, m_opacity = -1, m_width = 0, m_height = 0;
};

// The one the grabs use.
OverlayImage& Overlay();
