#include "InetApi.h"

#include <dlfcn.h>

InetApi::InetApi()
{
    module = dlopen(VIZO_BUILD_DIR "/" VIZO_INTERNET_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return;
    Open = reinterpret_cast<PFN_InternetOpenA>(dlsym(module, "InternetOpenA"));
    Connect = reinterpret_cast<PFN_InternetConnectA>(dlsym(module, "InternetConnectA"));
    Close = reinterpret_cast<PFN_InternetCloseHandle>(dlsym(module, "InternetCloseHandle"));
    Put = reinterpret_cast<PFN_FtpPutFileA>(dlsym(module, "FtpPutFileA"));
    Rename = reinterpret_cast<PFN_FtpRenameFileA>(dlsym(module, "FtpRenameFileA"));
    Delete = reinterpret_cast<PFN_FtpDeleteFileA>(dlsym(module, "FtpDeleteFileA"));
    Query = reinterpret_cast<PFN_InternetQueryOptionA>(dlsym(module, "InternetQueryOptionA"));
}

// The layer stays loaded: its connections may outlive one test's objects.
InetApi::~InetApi() = default;

bool InetApi::Loaded() const
{
    return Open && Connect && Close && Put && Rename && Delete && Query;
}

void InetTest::SetUp()
{
    ASSERT_TRUE(inet.Loaded()) << dlerror();
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    internet = inet.Open("Vizo", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(internet, nullptr);
}

void InetTest::TearDown()
{
    if (internet)
        inet.Close(internet);
}

HINTERNET InetTest::LoginTo(const QString& address, const QString& user, const QString& password,
                            DWORD flags)
{
    return inet.Connect(internet, address.toUtf8().constData(), 0, user.toUtf8().constData(),
                        password.toUtf8().constData(), INTERNET_SERVICE_FTP, flags, 666);
}

HINTERNET InetTest::Login(DWORD flags)
{
    return LoginTo(server.Address(), server.User(), server.Password(), flags);
}

QString InetTest::LocalFile(const QString& name, const QByteArray& bytes)
{
    QString path = local.filePath(name);
    if (!WriteLocalFile(path, bytes))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}
