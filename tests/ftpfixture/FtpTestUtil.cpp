#include "FtpTestUtil.h"

#include <QFile>
#include <random>

ScopedEnv::ScopedEnv(const char* name, const char* value)
    : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
{
    if (value)
        qputenv(name, value);
    else
        qunsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_had)
        qputenv(m_name.constData(), m_old);
    else
        qunsetenv(m_name.constData());
}

NoProxyEnvironment::NoProxyEnvironment()
    : m_vars{{"ftp_proxy", nullptr}, {"FTP_PROXY", nullptr},  {"all_proxy", nullptr},
             {"ALL_PROXY", nullptr}, {"http_proxy", nullptr}, {"HTTP_PROXY", nullptr},
             {"no_proxy", nullptr},  {"NO_PROXY", nullptr}}
{
}

QByteArray RandomBytes(int size, unsigned seed)
{
    std::mt19937 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(generator() & 0xff);
    return bytes;
}

bool WriteLocalFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}
