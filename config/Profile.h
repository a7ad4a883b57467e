// The per-user settings store: sections of typed values in
// $XDG_CONFIG_HOME/Brindlecote/<program name>.conf, readable by its owner only.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QSettings;

class Profile
{
public:
    // The store of one company and application name.
    Profile(const QString& company, const QString& application);
    // A store at an explicit file path.
    explicit Profile(const QString& filePath);
    ~Profile();

    static QString DefaultPath(const QString& company, const QString& application);

    // A missing value, or one that cannot be read as its type, yields the default.
    int ReadInt(const char* section, const char* entry, int defaultValue) const;
    QString ReadString(const char* section, const char* entry, const QString& defaultValue) const;
    // Each write reaches the file at once; false when it could not be stored.
    bool WriteInt(const char* section, const char* entry, int value);
    bool WriteString(const char* section, const char* entry, const QString& value);
    // The value names of a section, for sections whose names are data.
    QStringList Entries(const char* section) const;
    bool RemoveEntry(const char* section, const char* entry);

    QString filePath() const { return m_path; }
    // Why an existing file cannot be read; empty when it can or is missing.
    QString ReadProblem() const;
    // Why the first write since the last call could not be stored (each
    // failed write is also logged); empty when all were stored.
    QString TakeWriteProblem();
    // Every write made through this object, as "Section/Entry", in order.
    const QStringList& writeLog() const { return m_writes; }

private:
    void Reopen();
    bool Finish(const char* section, const char* entry);
    QString WriteFailure() const;

    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    QStringList m_writes;
    QString m_writeProblem;
    bool m_failed = false;
};
