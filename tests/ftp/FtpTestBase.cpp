#include "FtpTestBase.h"

void FtpTest::SetUp()
{
    ASSERT_TRUE(server.Start()) << server.ErrorText().toStdString();
    ASSERT_EQ(upload().LoadInternetLibrary(), 0);
    app.m_pMainWnd = &dlg;
    UseServer(upload(), server);
    upload().m_strLocalPath = LocalFile("vizo.jpg", picture);
    upload().m_strRemotePath = QStringLiteral("vizo.jpg");
    s_nFtpSwapIndex = 0;
    s_bCloseMessages = false;
    status.clear();
}

void FtpTest::TearDown()
{
    app.m_pMainWnd = nullptr;
    upload().FreeInternetLibrary();
}

QString FtpTest::LocalFile(const QString& name, const QByteArray& bytes)
{
    QString path = local.filePath(name);
    if (!WriteLocalFile(path, bytes))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

QStringList FtpTest::OpenLines() const
{
    return {"Opening FTP session to " + server.Address() + "...",
            "FTP session to " + server.Address() + " opened."};
}

QStringList FtpTest::StoredNames() const
{
    QStringList names;
    for (const QString& line : server.Commands())
        if (line.startsWith("STOR "))
            names << line.mid(5);
    return names;
}
