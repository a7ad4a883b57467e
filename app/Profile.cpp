#include "Profile.h"

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
    : m_path(filePath), m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
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
    m_settings->setValue(Key(section, entry), value);
    return Finish(section, entry);
}

bool Profile::WriteString(const char* section, const char* entry, const QString& value)
{
    m_settings->setValue(Key(section, entry), value);
    return Finish(section, entry);
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
    return m_settings->status() == QSettings::NoError;
}
