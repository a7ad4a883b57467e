#include "app/SettingsModel.h"
#include "config/Profile.h"
#include "config/SettingsKeys.h"
#include "net/CUpload.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace
{

class SettingsTest : public ::testing::Test
{
protected:
    ScopedConfigHome home;
    Profile store{QStringLiteral("Brindlecote"), QStringLiteral("vizo")};
    CUpload u;

    void Load(const QString& appDir = QStringLiteral("/opt/vizo/"))
    {
        LoadDialupSettings(u, &store);
        LoadRemainingSettings(u, &store, appDir);
    }
};

TEST_F(SettingsTest, MissingStoreGivesEveryDefault)
{
    Load();
    EXPECT_EQ(u.m_strDialupConnection, QString());
    EXPECT_EQ(u.m_nDialupRetries, 3u);
    EXPECT_EQ(u.m_bUseDialup, 1);
    EXPECT_EQ(u.m_strFtpServer, QString());
    EXPECT_EQ(u.m_bUseFtp, 1);
    EXPECT_EQ(u.m_bSafeFtp, 0);
    EXPECT_EQ(u.m_strRemotePath, QStringLiteral("vizo.jpg"));
    EXPECT_EQ(u.m_nQuality, 50);
    EXPECT_EQ(u.m_strLocalPath, QStringLiteral("/opt/vizo/vizo.jpg"));
    EXPECT_EQ(u.m_nCaptionHorzPos, 1);
    EXPECT_EQ(u.m_nCaptionVertPos, 0);
    EXPECT_EQ(u.m_bShowTime, 1);
    EXPECT_EQ(u.m_strTimeFormat, QStringLiteral("%B %d %Y %H:%M:%S"));
    EXPECT_EQ(u.m_strFontName, QStringLiteral("Arial"));
    EXPECT_EQ(u.m_nFontPointSize, 180);
    EXPECT_EQ(u.m_crCaptionColor, 65280u);
    EXPECT_EQ(u.m_nIntervalSecs, 900u);
    EXPECT_EQ(u.m_nFromSecs, 32400);
    EXPECT_EQ(u.m_nToSecs, 64800);
    EXPECT_EQ(u.m_b24Hours, 1);
    EXPECT_EQ(u.m_nUploadMode, 0);
    EXPECT_EQ(u.m_nNumSeries, 100);
    EXPECT_FLOAT_EQ(u.m_fMaxFps, 2.0f);
    // Loading writes nothing back, not even the default local path.
    EXPECT_FALSE(QFile::exists(store.filePath()));
}

TEST_F(SettingsTest, StoredValuesAreReducedAndParsedOnLoad)
{
    store.WriteInt("Upload", "From", 90000);
    store.WriteInt("Upload", "To", -1); // taken as unsigned 4294967295
    store.WriteString("Upload", "Max Fps", QStringLiteral("abc"));
    store.WriteString("Time", "Format", QStringLiteral("%d, %B %Y"));
    Load(QString());
    EXPECT_EQ(u.m_nFromSecs, 3600);
    EXPECT_EQ(u.m_nToSecs, int(4294967295u % 86400u));
    EXPECT_FLOAT_EQ(u.m_fMaxFps, 0.0f);
    EXPECT_EQ(u.m_strTimeFormat, QStringLiteral("%d, %B %Y"));
    EXPECT_EQ(u.m_strLocalPath, QStringLiteral("vizo.jpg"));
}

TEST(SettingsRules, MaxFpsParsesLikeStrtodInAnyLocale)
{
    EXPECT_FLOAT_EQ(ParseMaxFps(QStringLiteral("  2.5fps")), 2.5f);
    EXPECT_FLOAT_EQ(ParseMaxFps(QStringLiteral("0.33")), 0.33f);
    EXPECT_FLOAT_EQ(ParseMaxFps(QStringLiteral("")), 0.0f);
    EXPECT_FLOAT_EQ(ParseMaxFps(QStringLiteral("x1")), 0.0f);
    EXPECT_FLOAT_EQ(ParseMaxFps(QStringLiteral("-.5e1x")), -5.0f);
    // A hand-edited store: what strtod would also take is no number here.
    for (const char* text : {"inf", " -INFINITY", "nan", "0x1p3", "1e999"})
        EXPECT_EQ(ParseMaxFps(QString::fromLatin1(text)), 0.0f) << text;
    EXPECT_EQ(FormatMaxFps(2.0f), QStringLiteral("2.00"));
    EXPECT_EQ(FormatMaxFps(0.333f), QStringLiteral("0.33"));
}

TEST(SettingsRules, IntervalEditingForm)
{
    struct Case {
        unsigned secs, count, unit;
    } cases[] = {{7200, 2, 3600}, {5400, 90, 60}, {45, 45, 1}, {3660, 61, 60}, {0, 0, 3600}};
    for (const Case& c : cases) {
        const IntervalForm f = IntervalToForm(c.secs);
        EXPECT_EQ(f.count, c.count) << c.secs;
        EXPECT_EQ(f.unit, c.unit) << c.secs;
        EXPECT_EQ(IntervalFromForm(f.count, f.unit), c.secs);
    }
}

TEST(SettingsRules, TimeOfDayTextsReduceEachField)
{
    EXPECT_EQ(SpanToText(32400), QStringLiteral("09:00:00"));
    EXPECT_EQ(SpanToText(86399), QStringLiteral("23:59:59"));
    EXPECT_EQ(SpanFromText(QStringLiteral("25:75:00")), 4500);
    EXPECT_EQ(SpanFromText(QStringLiteral("18:00:00")), 64800);
    EXPECT_EQ(SpanFromText(QStringLiteral("7")), 7 * 3600);
    EXPECT_EQ(SpanFromText(QStringLiteral("")), 0);
    EXPECT_EQ(ReduceDaySeconds(90000), 3600);
}

TEST_F(SettingsTest, ConfirmWritesOnlyWhatChanged)
{
    Load();
    u.m_bDialupAvailable = 1;
    SettingsEdit e = EditFromSettings(u);
    e.crCaptionColor = RGB(255, 0, 0);
    SaveConfirmedSettings(u, e, store);
    EXPECT_EQ(store.writeLog(), QStringList{QStringLiteral("Time/Color")});
    EXPECT_EQ(u.m_crCaptionColor, 255u);

    // Nothing changed: nothing written.
    SaveConfirmedSettings(u, EditFromSettings(u), store);
    EXPECT_EQ(store.writeLog().size(), 1);
}

TEST_F(SettingsTest, ConfirmWithoutDialupLibraryAlwaysStoresUseDialup)
{
    Load();
    u.m_bDialupAvailable = 0;
    u.m_bUseDialup = 0; // switched off at start-up, the store still says 1
    SaveConfirmedSettings(u, EditFromSettings(u), store);
    EXPECT_EQ(store.writeLog(), QStringList{QStringLiteral("Dialup/Use Dialup")});
    EXPECT_EQ(store.ReadInt("Dialup", "Use Dialup", 1), 0);
}

TEST_F(SettingsTest, ConfirmedValuesUseTheirStoredForms)
{
    Load();
    u.m_bDialupAvailable = 1;
    SettingsEdit e = EditFromSettings(u);
    e.fMaxFps = 0.333f;
    e.strFrom = QStringLiteral("25:75:00");
    e.nIntervalCount = 90;
    e.nIntervalUnit = 60;
    e.strFtpPassword = QStringLiteral("s3cret");
    SaveConfirmedSettings(u, e, store);
    EXPECT_EQ(store.writeLog(),
              (QStringList{"FTP/Password", "Upload/Interval", "Upload/From", "Upload/Max Fps"}));
    EXPECT_FLOAT_EQ(u.m_fMaxFps, 0.333f); // the running program keeps its value
    EXPECT_EQ(u.m_nFromSecs, 4500);
    EXPECT_EQ(u.m_nIntervalSecs, 5400u);

    // A new store object reading the same file sees what was written.
    Profile again(QStringLiteral("Brindlecote"), QStringLiteral("vizo"));
    CUpload fresh;
    LoadDialupSettings(fresh, &again);
    LoadRemainingSettings(fresh, &again, QString());
    EXPECT_EQ(again.ReadString("Upload", "Max Fps", QString()), QStringLiteral("0.33"));
    EXPECT_FLOAT_EQ(fresh.m_fMaxFps, 0.33f);
    EXPECT_EQ(fresh.m_nFromSecs, 4500);
    EXPECT_EQ(fresh.m_strFtpPassword, QStringLiteral("s3cret"));
}

TEST_F(SettingsTest, StoreLivesUnderTheCompanyAndIsOwnerOnly)
{
    store.WriteString("FTP", "Password", QStringLiteral("pw"));
    EXPECT_EQ(store.filePath(), home.path() + QStringLiteral("/Brindlecote/vizo.conf"));
    const QFile::Permissions p = QFileInfo(store.filePath()).permissions();
    EXPECT_TRUE(p & QFile::ReadOwner);
    EXPECT_FALSE(p & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
}

TEST_F(SettingsTest, UnreadableValuesYieldDefaults)
{
    QFile file(store.filePath());
    ASSERT_TRUE(QFileInfo(file).dir().mkpath(QStringLiteral(".")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Path]\nQuality=high\n[Dialup]\nRetry=4294967295\n");
    file.close();
    Profile reread(store.filePath());
    EXPECT_EQ(reread.ReadInt("Path", "Quality", 50), 50);
    EXPECT_EQ(unsigned(reread.ReadInt("Dialup", "Retry", 3)), 4294967295u);
}

} // namespace

TEST_F(SettingsTest, DestinationsAreOffUntilUsedAndSavedInTheirOwnSections)
{
    store.WriteString("Destination 3", "Server", QStringLiteral("https://dav.example/cams"));
    store.WriteInt("Destination 3", "Protocol", 4);
    store.WriteInt("Destination 3", "Max Width", 320);
    Load();
    for (const FtpDestination& d : u.m_destinations)
        EXPECT_EQ(d.bUse, 0) << "a stored section alone does not publish";
    EXPECT_EQ(u.m_destinations[1].strServer, QStringLiteral("https://dav.example/cams"));
    EXPECT_EQ(u.m_destinations[1].transport.nProtocol, 4);
    EXPECT_EQ(u.m_destinations[1].nMaxWidth, 320);
    EXPECT_EQ(u.m_destinations[0].strRemotePath, QStringLiteral("vizo.jpg"));
    EXPECT_EQ(u.m_destinations[0].transport.strFormField, QStringLiteral("file"));

    u.m_bDialupAvailable = 1;
    SettingsEdit e = EditFromSettings(u);
    e.destinations[2].bUse = 1;
    e.destinations[2].strPassword = QStringLiteral("secret key");
    e.destinations[2].transport.strRegion = QStringLiteral("eu-west-1");
    const qsizetype before = store.writeLog().size();
    SaveConfirmedSettings(u, e, store);
    EXPECT_EQ(store.writeLog().mid(before),
              (QStringList{"Destination 4/Use", "Destination 4/Password", "Destination 4/Region"}));
    CUpload fresh;
    Profile again(QStringLiteral("Brindlecote"), QStringLiteral("vizo"));
    LoadRemainingSettings(fresh, &again, QString());
    EXPECT_EQ(fresh.m_destinations[2].bUse, 1);
    EXPECT_EQ(fresh.m_destinations[2].strPassword, QStringLiteral("secret key"));
    EXPECT_EQ(fresh.m_destinations[2].transport.strRegion, QStringLiteral("eu-west-1"));
    EXPECT_EQ(fresh.m_destinations[1].nMaxWidth, 320);
}
