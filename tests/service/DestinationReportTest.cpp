// Each destination's record in the health report: carried across uploads for
// the same place, shown by `vizo -status`, never with a password.
#include "ServiceRun.h"
#include "service/Service.h"

#include <QJsonArray>

TEST(DestinationReport, RecordsCarryTheirTimesAndSurviveTheFile)
{
    ScopedTimeZone tz("UTC");
    const std::time_t t0 = LocalTime(2026, 12, 7, 10, 0, 0);
    QVector<DestinationHealth> tried = {
        {1, "ftp.example.net", true, {}, 0, 0},
        {2, "https://dav.example/cams", false, "FTP session failed (HTTP 401 Unauthorized)", 0, 0}};
    QVector<DestinationHealth> records = MergeDestinations({}, tried, t0);
    tried[0].ok = false;
    tried[0].reason = "FTP transfer failed (Timed out)";
    tried[1].ok = true;
    records = MergeDestinations(records, tried, t0 + 60);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].lastSuccess, t0);
    EXPECT_EQ(records[0].lastFailure, t0 + 60);
    EXPECT_EQ(records[1].lastFailure, t0);
    EXPECT_EQ(records[1].lastSuccess, t0 + 60);
    EXPECT_TRUE(records[1].reason.isEmpty());

    // Another server under the same number starts afresh; one no longer tried drops out.
    const QVector<DestinationHealth> moved =
        MergeDestinations(records, {{2, "https://other.example", true, {}, 0, 0}}, t0 + 120);
    ASSERT_EQ(moved.size(), 1);
    EXPECT_EQ(moved[0].lastFailure, 0);

    HealthState s;
    s.version = "1.0";
    s.destinations = records;
    const QJsonArray array =
        QJsonDocument::fromJson(HealthToJson(s)).object().value("destinations").toArray();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0].toObject().value("state").toString(), "failing");
    EXPECT_EQ(array[0].toObject().value("reason").toString(), "FTP transfer failed (Timed out)");
    EXPECT_TRUE(array[1].toObject().value("reason").isNull());
    EXPECT_EQ(array[1].toObject().value("last_success").toString(), "2026-12-07T10:01:00+00:00");
    HealthState back;
    QString error;
    ASSERT_TRUE(HealthFromJson(HealthToJson(s), &back, &error));
    ASSERT_EQ(back.destinations.size(), 2);
    EXPECT_EQ(back.destinations[1].lastFailure, t0);
    EXPECT_FALSE(back.destinations[0].ok);

    ServiceRun run;
    ASSERT_TRUE(WriteHealthFile(run.StatusPath(), s, &error)) << error.toStdString();
    QString out;
    run.SetEnv("TZ", "UTC");
    run.StatusCommand(&out);
    EXPECT_TRUE(out.contains("\nDestination 1 (ftp.example.net): FAILING (FTP transfer failed "
                             "(Timed out))\nDestination 2 (https://dav.example/cams): ok"))
        << out.toStdString();
}
