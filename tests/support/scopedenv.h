// Sets an environment variable for the scope and puts the old state back.
#pragma once

#include <QByteArray>
#include <QtGlobal>

class ScopedEnv
{
public:
    // A null value unsets the variable for the scope.
    ScopedEnv(const char* name, const char* value)
        : ScopedEnv(name, value ? QByteArray(value) : QByteArray())
    {
    }
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name.constData(), m_old);
        else
            qunsetenv(m_name.constData());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    QByteArray m_name;
    QByteArray m_old;
    bool m_had;
};
