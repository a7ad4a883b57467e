// One picture published to several destinations: FTP first, then WebDAV with
// a smaller copy; a destination that is down fails alone.
#include "DavTestServer.h"
#include "FtpTestBase.h"
#include "net/Publish.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>

namespace
{

QSize JpegSize(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "jpeg");
    return reader.read().size();
}

class FtpDestinationsTest : public FtpTest
{
protected:
    void SetUp() override
    {
        FtpTest::SetUp();
        ASSERT_TRUE(dav.Start()) << dav.ErrorText().toStdString();
        QImage image(640, 480, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(image.save(upload().m_strLocalPath, "JPEG", 80));
        taken = ReadLocal(upload().m_strLocalPath);
        upload().m_bUseFtp = 1;
        upload().m_nQuality = 80;
        FtpDestination& d = upload().m_destinations[0];
        d.bUse = 1;
        d.strServer = dav.Url();
        d.strUsername = dav.User();
        d.strPassword = dav.Password();
        d.strRemotePath = QStringLiteral("thumbs/small.jpg");
        d.transport.nProtocol = VIZO_PROTOCOL_WEBDAV;
        d.nMaxWidth = 160;
    }
    static QByteArray ReadLocal(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList DavLines(const QString& reason = QString()) const
    {
        const QString open = "Opening FTP session to " + dav.Url() + "...";
        if (!reason.isEmpty())
            return {open, reason};
        return {open,
                "FTP session to " + dav.Url() + " opened.",
                "Starting FTP transfer of thumbs/small.jpg...",
                "Created remote folder thumbs",
                "FTP transfer completed.",
                "Closing FTP session...",
                "FTP session closed."};
    }
    QStringList TempCopies() const { return QDir(temp.path()).entryList(QDir::Files); }

    DavTestServer dav;
    QTemporaryDir temp;
    ScopedEnv tmpdir{"TMPDIR", temp.path().toLocal8Bit()};
    QByteArray taken;
};

} // namespace

TEST_F(FtpDestinationsTest, EachGetsItsOwnPictureAndLines)
{
    const QVector<DestinationOutcome> outcomes = PublishToAll(upload());
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_TRUE(outcomes[0].ok && outcomes[1].ok) << status.lines.join("\n").toStdString();
    EXPECT_EQ(server.ReadFile("vizo.jpg"), taken);
    EXPECT_EQ(dav.ListFiles(), QStringList{"thumbs/small.jpg"});
    EXPECT_EQ(JpegSize(dav.ReadFile("thumbs/small.jpg")), QSize(160, 120));
    EXPECT_EQ(ReadLocal(upload().m_strLocalPath), taken) << "the picture itself is untouched";
    EXPECT_EQ(TempCopies(), QStringList()) << "the smaller copy is removed";

    const QStringList lines = status.lines.mid(status.lines.indexOf(DavLines().first()));
    EXPECT_EQ(lines, DavLines());
    EXPECT_TRUE(status.lines.mid(0, 2) == OpenLines()) << status.lines.join("\n").toStdString();

    // A width the picture does not exceed sends the picture as taken.
    upload().m_destinations[0].nMaxWidth = 640;
    ASSERT_EQ(PublishToAll(upload()).size(), 2);
    EXPECT_EQ(dav.ReadFile("thumbs/small.jpg"), taken);
}

TEST_F(FtpDestinationsTest, OneDownFailsAloneAndIsNamed)
{
    server.Stop();
    QVector<DestinationOutcome> outcomes = PublishToAll(upload());
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_FALSE(outcomes[0].ok);
    EXPECT_TRUE(outcomes[1].ok) << "the first failing never stops the second";
    EXPECT_EQ(JpegSize(dav.ReadFile("thumbs/small.jpg")), QSize(160, 120));
    EXPECT_TRUE(outcomes[0].reason.startsWith("FTP session failed ("))
        << outcomes[0].reason.toStdString();
    EXPECT_EQ(FailedUploadLine(outcomes, "12:00:05"), "Failed upload at 12:00:05: destination 1 " +
                                                          server.Address() + ": " +
                                                          outcomes[0].reason);

    // Now the other way round: the second is down, the first publishes.
    ASSERT_TRUE(server.Restart()) << server.ErrorText().toStdString();
    dav.Stop();
    status.clear();
    outcomes = PublishToAll(upload());
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_TRUE(outcomes[0].ok) << status.lines.join("\n").toStdString();
    EXPECT_EQ(server.ReadFile("vizo.jpg"), taken);
    EXPECT_FALSE(outcomes[1].ok);
    EXPECT_EQ(outcomes[1].server, dav.Url());
    EXPECT_EQ(status.lines.last(), outcomes[1].reason);
    EXPECT_TRUE(outcomes[1].reason.startsWith("FTP session failed ("))
        << outcomes[1].reason.toStdString();
    EXPECT_EQ(TempCopies(), QStringList());
}

TEST_F(FtpDestinationsTest, APictureThatCannotBeScaledFailsThatDestinationOnly)
{
    ASSERT_TRUE(WriteLocalFile(upload().m_strLocalPath, "not a picture"));
    const QVector<DestinationOutcome> outcomes = PublishToAll(upload());
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_TRUE(outcomes[0].ok);
    EXPECT_FALSE(outcomes[1].ok);
    EXPECT_TRUE(outcomes[1].reason.startsWith("Cannot make the smaller picture for " + dav.Url()))
        << outcomes[1].reason.toStdString();
    EXPECT_EQ(dav.ListFiles(), QStringList());
}
