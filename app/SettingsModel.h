// Loading the settings record, its editing forms, and saving what the user
// changed on confirmation. Plain functions: no window needed.
#pragma once

#include "net/FtpTransport.h"
#include "platform/vfw/drivers.h"
#include "platform/win/wintypes.h"
#include "schedule/Sun.h"

#include <QString>

class CUpload;
class Profile;

// Loading at start-up. A null store yields every default.
void LoadDialupSettings(CUpload& u, const Profile* store);
void LoadRemainingSettings(CUpload& u, const Profile* store, const QString& appDir);

// Destination 2 + index ([Destination N]); index 0..2. A destination in use
// whose Max Width cannot be a width is logged (it publishes the picture as taken).
FtpDestination LoadDestination(const Profile* store, int index);
// Writes each value that differs from stored, and takes it into stored.
void SaveDestination(FtpDestination& stored, const FtpDestination& edited, Profile& store,
                     int index);

// Daylight only, as stored; a rule that cannot be used is logged and left off
// for the run (the stored texts stay as they are).
DaylightTexts LoadDaylightTexts(const Profile* store);
void LoadDaylightRule(const Profile* store);
void SaveDaylightTexts(const DaylightTexts& before, const DaylightTexts& after, Profile& store);

// The sources of [Video Sources], as stored; LoadVideoSources also hands
// them to the capture layer.
QVector<VideoSourceEntry> ReadVideoSources(const Profile* store);
void LoadVideoSources(const Profile* store);
// Writes what changed and removes what was removed.
void SaveVideoSources(const QVector<VideoSourceEntry>& before,
                      const QVector<VideoSourceEntry>& after, Profile& store);

// A stored time of day, taken as unsigned and reduced to 0..86399.
int ReduceDaySeconds(std::uint32_t stored);
// Like strtod in the C locale: leading blanks skipped, stops at the first
// character that cannot continue a number, 0 when there is none.
float ParseMaxFps(const QString& text);
// "%.2f", independent of the user's locale.
QString FormatMaxFps(float fps);

// Interval shown as a count of hours (3600), minutes (60) or seconds (1).
struct IntervalForm {
    unsigned count;
    unsigned unit;
};
IntervalForm IntervalToForm(unsigned seconds);
unsigned IntervalFromForm(unsigned count, unsigned unit);

// "%H:%M:%S" and back, with hours reduced modulo 24 and minutes and seconds
// modulo 60. Missing numbers count as 0.
QString SpanToText(int secs);
int SpanFromText(const QString& text);

// What the settings dialog's pages hold while the user edits.
struct SettingsEdit {
    QString strDialupConnection;
    unsigned nDialupRetries = 0;
    int bUseDialup = 0;
    QString strFtpServer, strFtpUsername, strFtpPassword, strRemotePath;
    int bUseFtp = 0, bSafeFtp = 0;
    FtpTransportSettings ftpTransport;
    QString strLocalPath;
    int nQuality = 0;
    unsigned nIntervalCount = 0, nIntervalUnit = 1;
    QString strFrom, strTo;
    int b24Hours = 0, nUploadMode = 0, nNumSeries = 0;
    float fMaxFps = 0;
    int bShowTime = 0, nCaptionHorzPos = 0, nCaptionVertPos = 0;
    QString strTimeFormat, strFontName;
    int nFontPointSize = 0;
    COLORREF crCaptionColor = 0;
    int bRetryFailed = 1;
    FtpDestination destinations[3]; // 2 to 4
};

SettingsEdit EditFromSettings(const CUpload& u);
// Compares, assigns and writes each changed value in the fixed order; Use
// Dialup is always written while the dial-up library is missing.
void SaveConfirmedSettings(CUpload& u, const SettingsEdit& e, Profile& store);
