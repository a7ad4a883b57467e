#include "HttpApi.h"

#include <dlfcn.h>

void HttpDestinationTest::SetUp()
{
    ASSERT_TRUE(inet.Loaded()) << dlerror();
    internet = inet.Open("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(internet, nullptr);
}

void HttpDestinationTest::TearDown()
{
    if (internet)
        inet.Close(internet);
}

HINTERNET HttpDestinationTest::Connect(DWORD protocol, const QString& server, const QString& user,
                                       const QString& password, const char* region,
                                       const char* formField, const char* serverKey)
{
    VIZO_TRANSPORT transport{sizeof(VIZO_TRANSPORT), protocol, serverKey, "", region, formField};
    return inet.Connect(internet, server.toUtf8().constData(), 0, user.toUtf8().constData(),
                        password.toUtf8().constData(), INTERNET_SERVICE_FTP,
                        INTERNET_FLAG_VIZO_TRANSPORT, reinterpret_cast<DWORD_PTR>(&transport));
}

QString HttpDestinationTest::LocalFile(const QString& name, const QByteArray& bytes)
{
    QString path = local.filePath(name);
    if (!WriteLocalFile(path, bytes))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

QString HttpDestinationTest::FailureText() const
{
    char text[512] = {};
    DWORD size = sizeof text;
    if (!inet.Query(nullptr, INTERNET_OPTION_VIZO_FAILURE_TEXT, text, &size))
        return QStringLiteral("<no text>");
    return QString::fromUtf8(text);
}
