// The upload queue in the health report: status.json's fields, a report of an
// earlier version, and `vizo -status` as a user runs it.
#include "ServiceRun.h"
#include "service/HealthReport.h"

TEST(QueueReport, StatusJsonAndTheStatusCommandShowTheQueue)
{
    ScopedTimeZone tz("UTC");
    HealthState s;
    s.version = "1.0";
    s.mode = "service";
    s.queueLength = 2;
    s.oldestQueued = LocalTime(2026, 12, 7, 0, 10, 0);
    const QJsonObject o = QJsonDocument::fromJson(HealthToJson(s)).object();
    EXPECT_EQ(o.value("queue_length").toInt(), 2);
    EXPECT_EQ(o.value("oldest_queued").toString(), "2026-12-07T00:10:00+00:00");
    HealthState back;
    QString error;
    ASSERT_TRUE(HealthFromJson(HealthToJson(s), &back, &error));
    EXPECT_EQ(back.queueLength, 2);
    EXPECT_EQ(back.oldestQueued, s.oldestQueued);

    // Empty: null, never a time of 1970; a report without the fields reads as empty.
    const QJsonObject empty = QJsonDocument::fromJson(HealthToJson(HealthState{})).object();
    EXPECT_EQ(empty.value("queue_length").toInt(-1), 0);
    EXPECT_TRUE(empty.value("oldest_queued").isNull());
    ASSERT_TRUE(HealthFromJson("{\"version\":\"0.9\",\"queue_length\":-5}", &back, &error));
    EXPECT_EQ(back.queueLength, 0);
    EXPECT_EQ(HealthSummary(back, s.oldestQueued).count("Queued for upload: none"), 1);

    ServiceRun run;
    ASSERT_TRUE(WriteHealthFile(run.StatusPath(), s, &error)) << error.toStdString();
    QString out;
    run.SetEnv("TZ", "UTC");
    run.StatusCommand(&out);
    EXPECT_TRUE(
        out.contains("\nQueued for upload: 2 video(s), the oldest since 2026-12-07 00:10:00"))
        << out.toStdString();
}
