#include "net/CUpload.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace
{

struct LibraryNames {
    const char* inet = CUpload::s_szInternetLibrary;
    const char* ras = CUpload::s_szDialupLibrary;
    ~LibraryNames()
    {
        CUpload::s_szInternetLibrary = inet;
        CUpload::s_szDialupLibrary = ras;
    }
};

TEST(Binding, RealLayersBindAndReleaseTwiceHarmlessly)
{
    CUpload u;
    ASSERT_EQ(u.LoadInternetLibrary(), 0);
    ASSERT_EQ(u.LoadDialupLibrary(), 0);
    EXPECT_NE(u.m_hWinINet, nullptr);
    EXPECT_NE(u.m_inet.InternetQueryOptionA, nullptr);
    EXPECT_NE(u.m_ras.RasHangUpA, nullptr);
    u.FreeDialupLibrary();
    u.FreeInternetLibrary();
    EXPECT_EQ(u.m_hWinINet, nullptr);
    EXPECT_EQ(u.m_hRasApi, nullptr);
    u.FreeDialupLibrary();
    u.FreeInternetLibrary();
}

TEST(Binding, MissingLibraryGivesMinusOne)
{
    LibraryNames saved;
    CUpload::s_szInternetLibrary = "libvizo-no-such-layer.so";
    CUpload::s_szDialupLibrary = "libvizo-no-such-layer.so";
    CUpload u;
    EXPECT_EQ(u.LoadInternetLibrary(), -1);
    EXPECT_EQ(u.LoadDialupLibrary(), -1);
    EXPECT_EQ(u.m_hWinINet, nullptr);
    u.FreeInternetLibrary();
}

TEST(Binding, LibraryLackingAnEntryPointGivesMinusTwoAndIsReleased)
{
    LibraryNames saved;
    CUpload::s_szInternetLibrary = "libvizoinet_broken.so";
    CUpload::s_szDialupLibrary = "libvizoras_broken.so";
    CUpload u;
    EXPECT_EQ(u.LoadInternetLibrary(), -2);
    EXPECT_EQ(u.m_hWinINet, nullptr);
    // Every lookup was made even though the last one failed.
    EXPECT_NE(u.m_inet.FtpDeleteFileA, nullptr);
    EXPECT_EQ(u.m_inet.InternetQueryOptionA, nullptr);
    EXPECT_EQ(u.LoadDialupLibrary(), -2);
    EXPECT_EQ(u.m_hRasApi, nullptr);
    EXPECT_EQ(u.m_ras.RasHangUpA, nullptr);
}

// Jobs run from the command line have no window: the record keeps their lines.
TEST(Binding, StatusWithoutMainWindowGoesToTheRecordOnly)
{
    StatusRecorder status;
    CUpload u;
    u.ShowStatus(QStringLiteral("no window sees this"));
    EXPECT_EQ(status.lines, QStringList{QStringLiteral("no window sees this")});
}

} // namespace
