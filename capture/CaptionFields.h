// Placeholders in the caption format for what the clock cannot give: a line
// from a file that another program keeps current, and the camera's name.
#pragma once

#include <QByteArray>
#include <QString>
#include <ctime>
#include <functional>
#include <map>
#include <sys/stat.h>

// What the placeholders stand for. file(path, maxAge) gives the file's line
// or "--"; maxAge < 0 means any age.
struct CaptionFieldValues {
    std::function<QString(const QString& path, long long maxAgeSecs)> file;
    QString camera;
};

// Replaces %{file:PATH}, %{file:PATH:SECONDS} and %{camera}, before strftime
// sees the format: values are escaped so they are drawn as they are, %% stays
// for strftime, and an unknown or unclosed %{ is drawn as written. *room gets
// the bytes the values take in the formatted text.
QString ExpandCaptionFields(const QString& format, const CaptionFieldValues& values,
                            int* room = nullptr);

// A file's first line as the caption shows it: UTF-8, control characters
// dropped, at most 200 characters.
QString CaptionLineOf(const QByteArray& bytes);

// Reads at most maxBytes from the start of a regular file. Anything else (a
// FIFO, a device, a folder) is refused before it is opened, and the file is
// opened without blocking, so one swapped in afterwards cannot stall a frame.
// False with the reason.
bool ReadRegularFile(const QByteArray& path, std::size_t maxBytes, QByteArray* bytes,
                     struct stat* st, QString* why);

// The files a caption names, each read at most once a second whatever the
// frame rate. A file that is missing, refused or stale shows "--"; it is
// logged once each time it goes wrong. now is the caller's clock.
class CaptionFileReader
{
public:
    // A reader that is not logging serves a preview, where a path typed half
    // way is no news.
    explicit CaptionFileReader(bool logging = true) : m_logging(logging) {}
    QString Value(const QString& path, long long maxAgeSecs, std::time_t now);

private:
    struct Entry {
        std::time_t readAt = 0;
        bool ok = false;
        bool reported = false;
        std::time_t modified = 0;
        QString line;
    };
    void Refresh(const QString& path, Entry& e, std::time_t now);
    std::map<QString, Entry> m_files;
    bool m_logging;
};

// The reader every grab and the Caption page's sample share.
CaptionFileReader& CaptionFiles();
// The caption's text at time t: placeholders filled in, then the time.
QString CaptionText(std::time_t t, const QString& format, const QString& camera,
                    CaptionFileReader& files = CaptionFiles());
