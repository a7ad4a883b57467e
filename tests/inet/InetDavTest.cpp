// WebDAV against Apache httpd's mod_dav: what is published arrives whole, in
// made folders, under the final name only, and a refusal names its status.
#include "DavTestServer.h"
#include "HttpApi.h"
#include "platform/win/lasterror.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

namespace
{

class DavTest : public HttpDestinationTest
{
protected:
    void SetUp() override
    {
        HttpDestinationTest::SetUp();
        ASSERT_TRUE(dav.Start()) << dav.ErrorText().toStdString();
    }
    HINTERNET Login(const QString& password)
    {
        return Connect(VIZO_PROTOCOL_WEBDAV, dav.Url(), dav.User(), password);
    }
    QString Note() const
    {
        char text[256] = {};
        DWORD size = sizeof text;
        inet.Query(nullptr, INTERNET_OPTION_VIZO_NOTE, text, &size);
        return QString::fromUtf8(text);
    }

    DavTestServer dav;
};

// Reads the server's copy of a file over and over, counting the moments it is
// missing or holds anything but one of the complete pictures.
class Reader
{
public:
    Reader(QString path, QByteArray a, QByteArray b)
        : m_path(std::move(path)), m_a(std::move(a)), m_b(std::move(b)), m_thread([this] { Run(); })
    {
    }
    ~Reader() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int missing = 0, partial = 0, reads = 0;

private:
    void Run()
    {
        while (!m_stop) {
            QFile file(m_path);
            ++reads;
            if (!file.open(QIODevice::ReadOnly)) {
                ++missing;
                continue;
            }
            const QByteArray bytes = file.readAll();
            if (bytes != m_a && bytes != m_b)
                ++partial;
        }
    }
    QString m_path;
    QByteArray m_a, m_b;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

TEST_F(DavTest, PublishesReplacesMovesAndDeletesInMadeFolders)
{
    HINTERNET session = Login(dav.Password());
    ASSERT_NE(session, nullptr) << FailureText().toStdString();
    const QByteArray first = RandomBytes(150000, 1), second = RandomBytes(90000, 2);
    const QByteArray one = LocalFile("one.jpg", first).toUtf8();
    const QByteArray two = LocalFile("two.jpg", second).toUtf8();

    ASSERT_TRUE(inet.Put(session, one, "cams/door/cam.jpg", FTP_TRANSFER_TYPE_BINARY, 0))
        << FailureText().toStdString();
    EXPECT_EQ(Note(), "Created remote folder cams/door");
    EXPECT_EQ(dav.ReadFile("cams/door/cam.jpg"), first);
    ASSERT_TRUE(inet.Put(session, two, "cams/door/cam.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(Note(), "") << "the folder is made once";
    EXPECT_EQ(dav.ReadFile("cams/door/cam.jpg"), second);

    // The temporary-and-rename way replaces an existing picture too.
    ASSERT_TRUE(inet.Put(session, one, "cams/door/cam.jpg.t00", FTP_TRANSFER_TYPE_BINARY, 0));
    ASSERT_TRUE(inet.Rename(session, "cams/door/cam.jpg.t00", "cams/door/cam.jpg"))
        << FailureText().toStdString();
    EXPECT_EQ(dav.ReadFile("cams/door/cam.jpg"), first);
    EXPECT_EQ(dav.ListFiles(), QStringList({"cams/door/cam.jpg"}));

    ASSERT_TRUE(inet.Delete(session, "cams/door/cam.jpg"));
    EXPECT_EQ(dav.ListFiles(), QStringList());
    SetLastError(0);
    EXPECT_FALSE(inet.Delete(session, "cams/door/cam.jpg"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_HTTP_STATUS));
    EXPECT_EQ(FailureText(), "HTTP 404 Not Found");
    inet.Close(session);
}

TEST_F(DavTest, RefusalsNameTheHttpStatus)
{
    SetLastError(0);
    EXPECT_EQ(Login("wrong"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_HTTP_STATUS));
    EXPECT_EQ(FailureText(), "HTTP 401 Unauthorized");

    EXPECT_EQ(Connect(VIZO_PROTOCOL_WEBDAV, "ftp://127.0.0.1/dav", dav.User(), dav.Password()),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_SERVER_URL));

    // A file where a folder must go cannot be made into one.
    HINTERNET session = Login(dav.Password());
    ASSERT_NE(session, nullptr);
    const QByteArray path = LocalFile("x.jpg", RandomBytes(1000)).toUtf8();
    ASSERT_TRUE(inet.Put(session, path, "taken", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_FALSE(inet.Put(session, path, "taken/x.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_REMOTE_FOLDER));
    EXPECT_EQ(FailureText().toStdString(),
              "Cannot create remote folder taken (HTTP 400 Bad Request)");
    inet.Close(session);
}

TEST_F(DavTest, CutTransferLeavesTheOldPictureAndNothingElse)
{
    HINTERNET session = Login(dav.Password());
    ASSERT_NE(session, nullptr);
    const QByteArray old = RandomBytes(20000, 3);
    ASSERT_TRUE(inet.Put(session, LocalFile("old.jpg", old).toUtf8(), "cam.jpg",
                         FTP_TRANSFER_TYPE_BINARY, 0));
    const QByteArray big = LocalFile("big.jpg", RandomBytes(48 << 20, 4)).toUtf8();

    // The handle closed while the body is on its way (Abort).
    std::thread closer([&] {
        while (QDir(dav.RootDir()).entryList(QDir::Files | QDir::Hidden).size() < 2)
            std::this_thread::yield();
        inet.Close(session);
    });
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, big, "cam.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    closer.join();
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FTP_DROPPED));
    // httpd removes its temporary once it sees the connection gone.
    for (int i = 0; i < 100 && dav.ListFiles().size() > 1; ++i)
        QThread::msleep(20);
    EXPECT_EQ(dav.ListFiles(), QStringList({"cam.jpg"}));
    EXPECT_EQ(dav.ReadFile("cam.jpg"), old);

    // The server stopped while the body is on its way.
    session = Login(dav.Password());
    ASSERT_NE(session, nullptr);
    std::thread stopper([&] {
        while (QDir(dav.RootDir()).entryList(QDir::Files | QDir::Hidden).size() < 2)
            std::this_thread::yield();
        ::kill(pid_t(dav.ProcessId()), SIGTERM);
    });
    SetLastError(0);
    EXPECT_FALSE(inet.Put(session, big, "cam.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    stopper.join();
    dav.Stop();
    const DWORD code = GetLastError();
    EXPECT_TRUE(code == ERROR_INTERNET_CONNECTION_RESET || code == ERROR_FTP_DROPPED) << code;
    EXPECT_EQ(dav.ReadFile("cam.jpg"), old);
    inet.Close(session);
}

// Which way of replacing never shows a reader a missing or partial picture.
TEST_F(DavTest, ReplacingInPlaceNeverShowsAMissingOrPartialPicture)
{
    HINTERNET session = Login(dav.Password());
    ASSERT_NE(session, nullptr);
    const QByteArray a = RandomBytes(100000, 5), b = RandomBytes(120000, 6);
    const QByteArray pathA = LocalFile("a.jpg", a).toUtf8(), pathB = LocalFile("b.jpg", b).toUtf8();
    ASSERT_TRUE(inet.Put(session, pathA, "cam.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
    constexpr int kReplaces = 200;
    struct Way {
        const char* name;
        bool viaMove;
    } ways[] = {{"PUT to the temporary, then MOVE", true}, {"PUT to the final name", false}};
    int inPlaceFaults = -1;
    for (const Way& way : ways) {
        Reader reader(dav.RootDir() + "/cam.jpg", a, b);
        for (int i = 0; i < kReplaces; ++i) {
            const char* local = i % 2 ? pathA : pathB;
            if (way.viaMove) {
                ASSERT_TRUE(inet.Put(session, local, "cam.jpg.t00", FTP_TRANSFER_TYPE_BINARY, 0));
                ASSERT_TRUE(inet.Rename(session, "cam.jpg.t00", "cam.jpg"));
            } else {
                ASSERT_TRUE(inet.Put(session, local, "cam.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
            }
        }
        reader.Stop();
        std::printf("%s: %d replaces, %d reads, %d missing, %d partial\n", way.name, kReplaces,
                    reader.reads, reader.missing, reader.partial);
        EXPECT_GT(reader.reads, kReplaces) << "the reader kept up";
        if (!way.viaMove)
            inPlaceFaults = reader.missing + reader.partial;
    }
    EXPECT_EQ(inPlaceFaults, 0);
    inet.Close(session);
}

TEST_F(HttpDestinationTest, HttpsTrustsAsFtpsDoes)
{
    DavTestServer dav;
    ASSERT_TRUE(dav.Start(true)) << dav.ErrorText().toStdString();
    const QByteArray pin = dav.Pin().toUtf8();
    const QByteArray otherPin = "sha256//" + QByteArray(32, 'x').toBase64();
    const QByteArray bundle = dav.CertificatePath().toUtf8();
    const QByteArray path = LocalFile("x.jpg", RandomBytes(5000)).toUtf8();
    struct Case {
        const char* what;
        const char* pin;
        const char* caFile;
        bool trusted;
    } cases[] = {{"unknown issuer", "", nullptr, false},
                 {"pinned key", pin.constData(), nullptr, true},
                 {"another key pinned", otherPin.constData(), bundle.constData(), false},
                 {"issuer in the bundle", "", bundle.constData(), true}};
    for (const Case& c : cases) {
        ScopedEnv ca("VIZO_INET_CA_FILE", c.caFile);
        SetLastError(0);
        HINTERNET session =
            Connect(VIZO_PROTOCOL_WEBDAV, dav.Url(), dav.User(), dav.Password(), "", "", c.pin);
        if (!c.trusted) {
            EXPECT_EQ(session, nullptr) << c.what;
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INVALID_CA)) << c.what;
            EXPECT_TRUE(FailureText().startsWith("Server certificate not trusted")) << c.what;
            continue;
        }
        ASSERT_NE(session, nullptr) << c.what << ": " << FailureText().toStdString();
        EXPECT_TRUE(inet.Put(session, path, "x.jpg", FTP_TRANSFER_TYPE_BINARY, 0)) << c.what;
        inet.Close(session);
    }
}
