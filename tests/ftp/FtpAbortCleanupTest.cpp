// An aborted or failed transfer leaves nothing of ours on the server.
#include "FtpTestBase.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

namespace
{
QStringList Temporaries(const FtpTestServer& server)
{
    return server.ListFiles().filter(QRegularExpression("\\.[td]\\d\\d$"));
}
} // namespace

// Abort cuts the STOR half-way, single shot and held-open connection alike:
// a second, quiet connection removes the partial temporary.
TEST_F(FtpTest, AbortMidTransferRemovesThePartialTemporary)
{
    QString big = LocalFile("big.jpg", RandomBytes(1024 * 1024, 5));
    upload().m_strLocalPath = big;
    for (bool heldOpen : {false, true}) {
        SCOPED_TRACE(heldOpen ? "Connect/Transfer" : "UploadFile");
        server.ClearFaults();
        server.ClearCommands();
        upload().m_bAbort = 0;
        if (heldOpen) {
            ASSERT_TRUE(upload().Connect());
        }
        status.clear();
        server.LimitRate(256 * 1024);
        QTimer::singleShot(700, [&] { upload().Abort(); });
        EXPECT_FALSE(heldOpen ? upload().Transfer(big, "vizo.jpg", 2) : upload().UploadFile());
        const QStringList shown = status.lines;
        if (heldOpen) {
            // As a series' timing list after an Abort: nothing sent, nothing to remove.
            EXPECT_FALSE(upload().Transfer(big, "vizo.txt", 1));
            upload().Disconnect();
        }
        EXPECT_TRUE(upload().m_bAbort);
        ASSERT_EQ(shown.size(), heldOpen ? 2 : 4) << shown.join('\n').toStdString();
        EXPECT_TRUE(shown.last().startsWith("FTP transfer failed (")) << "no extra lines";
        EXPECT_EQ(server.CountCommands("CONNECT"), 2);
        EXPECT_EQ(server.CountCommands("DELE " + StoredNames().value(0)), 1);
        EXPECT_EQ(server.ListFiles(), QStringList()) << "neither the temporary nor vizo.jpg";
    }
}

// The clean-up connection is bounded: a server silent from the abort on holds
// the program for a few seconds at most, however long the layer would wait.
TEST_F(FtpTest, CleanUpAfterAbortGivesUpOnASilentServer)
{
    ScopedEnv longTimeout(VIZO_INET_TIMEOUT_ENV, "30");
    upload().m_strLocalPath = LocalFile("big.jpg", RandomBytes(1024 * 1024, 6));
    server.LimitRate(256 * 1024);
    QTimer::singleShot(700, [&] {
        server.SetSilent(true);
        upload().Abort();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_LT(clock.elapsed(), 700 + 4500);
    EXPECT_FALSE(server.HasFile("vizo.jpg"));
    EXPECT_TRUE(status.lines.last().startsWith("FTP transfer failed ("));
    // Nothing lost: the next upload, once the server answers again, still works.
    server.ClearFaults();
    upload().m_bAbort = 0;
    upload().m_strLocalPath = LocalFile("vizo.jpg", picture);
    EXPECT_TRUE(upload().UploadFile());
    EXPECT_EQ(server.ReadFile("vizo.jpg"), picture);
}

// Without an abort the session itself removes what a failed STOR left.
TEST_F(FtpTest, FailedTransferDeletesItsTemporaryThroughTheSession)
{
    upload().m_strLocalPath = LocalFile("big.jpg", RandomBytes(1024 * 1024, 7));
    server.DropAfter(200000);
    EXPECT_FALSE(upload().UploadFile());
    EXPECT_EQ(server.CountCommands("DELE vizo.jpg.t00"), 1);
    EXPECT_EQ(Temporaries(server), QStringList());
    EXPECT_FALSE(server.HasFile("vizo.jpg"));
}
