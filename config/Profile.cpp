#include "Profile.h"

#include "platform/afx/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace
{
QString Key(const char* section, const char* entry)
{
    return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(entry);
}
} // namespace

QString Profile::DefaultPath(const QString& company, const QString& application)
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QLatin1Char('/') + company + QLatin1Char('/') + application +
           QStringLiteral(".conf");
}

Profile::Profile(const QString& company, const QString& application)
    : Profile(DefaultPath(company, application))
{
}

Profile::Profile(const QString& filePath)
    : m_path(filePath), m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat)),
      m_failed(m_settings->status() != QSettings::NoError)
{
}

Profile::~Profile() = default;

int Profile::ReadInt(const char* section, const char* entry, int defaultValue) const
{
    const QVariant v = m_settings->value(Key(section, entry));
    if (!v.isValid())
        return defaultValue;
    bool ok = false;
    // Values are 32-bit words: a large unsigned one reads back as its bit pattern.
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    if (!ok || n < INT32_MIN || n > UINT32_MAX)
        return defaultValue;
    return int(std::uint32_t(n));
}

QString Profile::ReadString(const char* section, const char* entry,
                            const QString& defaultValue) const
{
    const QVariant v = m_settings->value(Key(section, entry));
    if (!v.isValid())
        return defaultValue;
    // A hand-edited value with unquoted commas reads as a list.
    if (v.metaType().id() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

bool Profile::WriteInt(const char* section, const char* entry, int value)
{
    Reopen();
    m_settings->setValue(Key(section, entry), value);
    return Finish(section, entry);
}

bool Profile::WriteString(const char* section, const char* entry, const QString& value)
{
    Reopen();
    m_settings->setValue(Key(section, entry), value);
    return Finish(section, entry);
}

QStringList Profile::Entries(const char* section) const
{
    m_settings->beginGroup(QString::fromLatin1(section));
    const QStringList keys = m_settings->childKeys();
    m_settings->endGroup();
    return keys;
}

bool Profile::RemoveEntry(const char* section, const char* entry)
{
    Reopen();
    m_settings->remove(Key(section, entry));
    return Finish(section, entry);
}

// A store that failed keeps failing, even once the cause is gone: the next
// write starts from a fresh one.
void Profile::Reopen()
{
    if (!m_failed)
        return;
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    m_failed = false;
}

bool Profile::Finish(const char* section, const char* entry)
{
    m_writes << Key(section, entry);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (!QFile::exists(m_path)) {
        // Created owner-only before the first value lands in it.
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    m_settings->sync();
    // The store holds the FTP password in plain text.
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    if (m_settings->status() == QSettings::NoError)
        return true;
    const QString why = WriteFailure();
    LogLine("settings",
            QStringLiteral("%1 not stored in %2: %3").arg(Key(section, entry), m_path, why));
    if (m_writeProblem.isEmpty())
        m_writeProblem = why;
    m_failed = true;
    return false;
}

QString Profile::WriteFailure() const
{
    const QFileInfo file(m_path);
    const QString folder = file.absolutePath();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral("the folder %1 cannot be created").arg(folder);
    if (file.isDir())
        return QStringLiteral("a folder has the file's name");
    QFile probe(m_path);
    if (file.exists() && !probe.open(QIODevice::Append))
        return probe.errorString();
    if (!QFileInfo(folder).isWritable())
        return QStringLiteral("the folder %1 is read-only").arg(folder);
    return QStringLiteral("the file could not be written");
}

QString Profile::TakeWriteProblem()
{
    QString why;
    why.swap(m_writeProblem);
    return why;
}

QString Profile::ReadProblem() const
{
    const QFileInfo file(m_path);
    if (!file.exists())
        return {};
    if (file.isDir())
        return QStringLiteral("a folder has the file's name");
    QFile probe(m_path);
    if (!probe.open(QIODevice::ReadOnly))
        return probe.errorString();
    if (m_settings->status() == QSettings::FormatError)
        return QStringLiteral("its contents are not in the settings format");
    return {};
}
