#include "SettingsModel.h"

#include "capture/SourceFormats.h"
#include "config/KeyedStore.h"
#include "config/Profile.h"
#include "net/CUpload.h"
#include "platform/afx/log.h"
#include "session/Schedule.h"

#include <QRegularExpression>

#include <algorithm>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

void LoadDialupSettings(CUpload& u, const Profile* store)
{
    u.m_strDialupConnection = ReadString(store, Keys::DialupConnection);
    u.m_nDialupRetries = unsigned(ReadInt(store, Keys::DialupRetries));
    u.m_bUseDialup = ReadInt(store, Keys::UseDialup);
}

void LoadRemainingSettings(CUpload& u, const Profile* store, const QString& appDir)
{
    u.m_strFtpServer = ReadString(store, Keys::FtpServer);
    u.m_strFtpUsername = ReadString(store, Keys::FtpUsername);
    u.m_strFtpPassword = ReadString(store, Keys::FtpPassword);
    u.m_bUseFtp = ReadInt(store, Keys::UseFtp);
    u.m_bSafeFtp = ReadInt(store, Keys::SafeFtp);
    u.m_ftpTransport.nProtocol = ReadInt(store, Keys::FtpProtocol);
    u.m_ftpTransport.nTransferMode = ReadInt(store, Keys::FtpTransferMode);
    u.m_ftpTransport.strServerKey = ReadString(store, Keys::FtpServerKey);
    u.m_ftpTransport.strPrivateKey = ReadString(store, Keys::FtpPrivateKey);
    u.m_ftpTransport.strRegion = ReadString(store, Keys::FtpRegion);
    u.m_ftpTransport.strFormField = ReadString(store, Keys::FtpFormField);

    u.m_strRemotePath = ReadString(store, Keys::RemotePath);
    u.m_nQuality = ReadInt(store, Keys::Quality);
    u.m_strLocalPath = ReadString(store, Keys::LocalPath);
    if (u.m_strLocalPath.isEmpty())
        u.m_strLocalPath = appDir + QString::fromLatin1(Keys::DefaultPictureName);

    u.m_nCaptionHorzPos = ReadInt(store, Keys::CaptionHorzPos);
    u.m_nCaptionVertPos = ReadInt(store, Keys::CaptionVertPos);
    u.m_bShowTime = ReadInt(store, Keys::ShowTime);
    u.m_strTimeFormat = ReadString(store, Keys::TimeFormat);
    u.m_strFontName = ReadString(store, Keys::FontName);
    u.m_nFontPointSize = ReadInt(store, Keys::FontPointSize);
    u.m_crCaptionColor = COLORREF(ReadInt(store, Keys::CaptionColor));

    u.m_nIntervalSecs = unsigned(ReadInt(store, Keys::IntervalSecs));
    u.m_nFromSecs = ReduceDaySeconds(std::uint32_t(ReadInt(store, Keys::FromSecs)));
    u.m_nToSecs = ReduceDaySeconds(std::uint32_t(ReadInt(store, Keys::ToSecs)));
    u.m_b24Hours = ReadInt(store, Keys::All24Hours);
    u.m_nUploadMode = ReadInt(store, Keys::UploadMode);
    u.m_nNumSeries = ReadInt(store, Keys::NumSeries);
    u.m_fMaxFps = ParseMaxFps(ReadString(store, Keys::MaxFps));
    SetRetryFailed(ReadInt(store, Keys::RetryFailed) != 0);
    for (int i = 0; i < CUpload::kExtraDestinations; ++i)
        u.m_destinations[i] = LoadDestination(store, i);
    LoadDaylightRule(store);
    LoadVideoSources(store);
}

namespace
{
// The keys of one [Destination N] section.
struct DestinationKeys {
    explicit DestinationKeys(int index)
        : section(QString::fromLatin1(Keys::DestinationSectionFormat)
                      .arg(index + Keys::FirstExtraDestination)
                      .toLatin1())
    {
    }
    template <typename K> K operator()(K key) const
    {
        key.section = section.constData();
        return key;
    }
    QByteArray section;
};
} // namespace

FtpDestination LoadDestination(const Profile* store, int index)
{
    const DestinationKeys k(index);
    FtpDestination d;
    d.bUse = ReadInt(store, k(Keys::DestUse));
    d.strServer = ReadString(store, k(Keys::DestServer));
    d.strUsername = ReadString(store, k(Keys::DestUsername));
    d.strPassword = ReadString(store, k(Keys::DestPassword));
    d.strRemotePath = ReadString(store, k(Keys::DestRemote));
    d.nMaxWidth = ReadInt(store, k(Keys::DestMaxWidth));
    FtpTransportSettings& t = d.transport;
    t.nProtocol = ReadInt(store, k(Keys::DestProtocol));
    t.nTransferMode = ReadInt(store, k(Keys::DestTransferMode));
    t.strServerKey = ReadString(store, k(Keys::DestServerKey));
    t.strPrivateKey = ReadString(store, k(Keys::DestPrivateKey));
    t.strRegion = ReadString(store, k(Keys::DestRegion));
    t.strFormField = ReadString(store, k(Keys::DestFormField));
    if (d.bUse && d.nMaxWidth < 0)
        LogStatus(QStringLiteral("[%1] Max Width %2 is not a width: the picture goes as taken.")
                      .arg(QString::fromLatin1(k.section))
                      .arg(d.nMaxWidth));
    return d;
}

void SaveDestination(FtpDestination& stored, const FtpDestination& edited, Profile& store,
                     int index)
{
    const DestinationKeys k(index);
    WriteIfChanged(store, k(Keys::DestUse), stored.bUse, edited.bUse);
    WriteIfChanged(store, k(Keys::DestProtocol), stored.transport.nProtocol,
                   edited.transport.nProtocol);
    WriteIfChanged(store, k(Keys::DestServer), stored.strServer, edited.strServer);
    WriteIfChanged(store, k(Keys::DestUsername), stored.strUsername, edited.strUsername);
    WriteIfChanged(store, k(Keys::DestPassword), stored.strPassword, edited.strPassword);
    WriteIfChanged(store, k(Keys::DestTransferMode), stored.transport.nTransferMode,
                   edited.transport.nTransferMode);
    WriteIfChanged(store, k(Keys::DestServerKey), stored.transport.strServerKey,
                   edited.transport.strServerKey);
    WriteIfChanged(store, k(Keys::DestPrivateKey), stored.transport.strPrivateKey,
                   edited.transport.strPrivateKey);
    WriteIfChanged(store, k(Keys::DestRegion), stored.transport.strRegion,
                   edited.transport.strRegion);
    WriteIfChanged(store, k(Keys::DestFormField), stored.transport.strFormField,
                   edited.transport.strFormField);
    WriteIfChanged(store, k(Keys::DestRemote), stored.strRemotePath, edited.strRemotePath);
    WriteIfChanged(store, k(Keys::DestMaxWidth), stored.nMaxWidth, edited.nMaxWidth);
}

QVector<VideoSourceEntry> ReadVideoSources(const Profile* store)
{
    QVector<VideoSourceEntry> entries;
    if (!store)
        return entries;
    for (const QString& key : store->Entries(Keys::VideoSourcesSection)) {
        const QByteArray entry = key.toUtf8();
        entries.push_back({QString::fromUtf8(QByteArray::fromPercentEncoding(entry)),
                           store->ReadString(Keys::VideoSourcesSection, entry.constData(), {})});
    }
    return entries;
}

void LoadVideoSources(const Profile* store)
{
    SetSettingsVideoSources(ReadVideoSources(store));
}

void SaveVideoSources(const QVector<VideoSourceEntry>& before,
                      const QVector<VideoSourceEntry>& after, Profile& store)
{
    auto named = [](const QVector<VideoSourceEntry>& list, const QString& name) {
        return std::find_if(list.begin(), list.end(),
                            [&](const VideoSourceEntry& e) { return e.name == name; });
    };
    for (const VideoSourceEntry& e : before)
        if (named(after, e.name) == after.end())
            store.RemoveEntry(Keys::VideoSourcesSection, SourceFormatEntry(e.name).constData());
    for (const VideoSourceEntry& e : after) {
        const auto old = named(before, e.name);
        if (old == before.end() || old->value != e.value)
            store.WriteString(Keys::VideoSourcesSection, SourceFormatEntry(e.name).constData(),
                              e.value);
    }
}

DaylightTexts LoadDaylightTexts(const Profile* store)
{
    return {ReadInt(store, Keys::DaylightOnly), ReadString(store, Keys::DaylightLatitude),
            ReadString(store, Keys::DaylightLongitude),
            ReadString(store, Keys::DaylightSunAltitude)};
}

void LoadDaylightRule(const Profile* store)
{
    QString problem;
    const DaylightTexts texts = LoadDaylightTexts(store);
    SetDaylightRule(DaylightFromText(texts, &problem));
    if (texts.bDaylightOnly && !problem.isEmpty())
        LogStatus(QStringLiteral("Daylight only is off for this run: %1.").arg(problem));
}

void SaveDaylightTexts(const DaylightTexts& before, const DaylightTexts& after, Profile& store)
{
    DaylightTexts stored = before;
    WriteIfChanged(store, Keys::DaylightOnly, stored.bDaylightOnly, after.bDaylightOnly);
    WriteIfChanged(store, Keys::DaylightLatitude, stored.latitude, after.latitude);
    WriteIfChanged(store, Keys::DaylightLongitude, stored.longitude, after.longitude);
    WriteIfChanged(store, Keys::DaylightSunAltitude, stored.altitude, after.altitude);
}

int ReduceDaySeconds(std::uint32_t stored)
{
    const std::uint32_t v = stored % 86400u;
    return int((v / 3600) * 3600 + (v / 60 % 60) * 60 + v % 60);
}

float ParseMaxFps(const QString& text)
{
    // Only a decimal number counts: strtod alone also takes inf, nan and hex,
    // which a hand-edited store could hold.
    static const QRegularExpression decimal(
        QStringLiteral("^\\s*([+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?)"));
    const QRegularExpressionMatch m = decimal.match(text);
    if (!m.hasMatch())
        return 0;
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const double value = strtod_l(m.captured(1).toLatin1().constData(), nullptr, cLocale);
    // Out of a float's range is no usable rate either.
    return std::fabs(value) <= FLT_MAX ? float(value) : 0.0f;
}

QString FormatMaxFps(float fps)
{
    return QString::asprintf("%.2f", double(fps));
}

IntervalForm IntervalToForm(unsigned seconds)
{
    if (seconds % 3600 == 0)
        return {seconds / 3600, 3600};
    if (seconds % 60 == 0)
        return {seconds / 60, 60};
    return {seconds, 1};
}

unsigned IntervalFromForm(unsigned count, unsigned unit)
{
    return count * unit;
}

QString SpanToText(int secs)
{
    return QString::asprintf("%02d:%02d:%02d", secs / 3600, secs / 60 % 60, secs % 60);
}

int SpanFromText(const QString& text)
{
    unsigned h = 0, m = 0, s = 0;
    std::sscanf(text.toLatin1().constData(), "%u:%u:%u", &h, &m, &s);
    return int((h % 24) * 3600 + (m % 60) * 60 + s % 60);
}

SettingsEdit EditFromSettings(const CUpload& u)
{
    SettingsEdit e;
    e.strDialupConnection = u.m_strDialupConnection;
    e.nDialupRetries = u.m_nDialupRetries;
    e.bUseDialup = u.m_bUseDialup;
    e.strFtpServer = u.m_strFtpServer;
    e.strFtpUsername = u.m_strFtpUsername;
    e.strFtpPassword = u.m_strFtpPassword;
    e.strRemotePath = u.m_strRemotePath;
    e.bUseFtp = u.m_bUseFtp;
    e.bSafeFtp = u.m_bSafeFtp;
    e.ftpTransport = u.m_ftpTransport;
    e.strLocalPath = u.m_strLocalPath;
    e.nQuality = u.m_nQuality;
    const IntervalForm form = IntervalToForm(u.m_nIntervalSecs);
    e.nIntervalCount = form.count;
    e.nIntervalUnit = form.unit;
    e.strFrom = SpanToText(u.m_nFromSecs);
    e.strTo = SpanToText(u.m_nToSecs);
    e.b24Hours = u.m_b24Hours;
    e.nUploadMode = u.m_nUploadMode;
    e.nNumSeries = u.m_nNumSeries;
    e.fMaxFps = u.m_fMaxFps;
    e.bShowTime = u.m_bShowTime;
    e.nCaptionHorzPos = u.m_nCaptionHorzPos;
    e.nCaptionVertPos = u.m_nCaptionVertPos;
    e.strTimeFormat = u.m_strTimeFormat;
    e.strFontName = u.m_strFontName;
    e.nFontPointSize = u.m_nFontPointSize;
    e.crCaptionColor = u.m_crCaptionColor;
    e.bRetryFailed = RetryFailedInForce() ? 1 : 0;
    for (int i = 0; i < CUpload::kExtraDestinations; ++i)
        e.destinations[i] = u.m_destinations[i];
    return e;
}

void SaveConfirmedSettings(CUpload& u, const SettingsEdit& e, Profile& store)
{
    WriteIfChanged(store, Keys::DialupConnection, u.m_strDialupConnection, e.strDialupConnection);
    WriteIfChanged(store, Keys::DialupRetries, u.m_nDialupRetries, e.nDialupRetries);
    if (u.m_bUseDialup != e.bUseDialup || !u.m_bDialupAvailable) {
        // Stores the switch-off made at start-up when the dial-up library is missing.
        u.m_bUseDialup = e.bUseDialup;
        store.WriteInt(Keys::UseDialup.section, Keys::UseDialup.entry, e.bUseDialup);
    }
    WriteIfChanged(store, Keys::FtpServer, u.m_strFtpServer, e.strFtpServer);
    WriteIfChanged(store, Keys::FtpUsername, u.m_strFtpUsername, e.strFtpUsername);
    WriteIfChanged(store, Keys::FtpPassword, u.m_strFtpPassword, e.strFtpPassword);
    WriteIfChanged(store, Keys::UseFtp, u.m_bUseFtp, e.bUseFtp);
    WriteIfChanged(store, Keys::SafeFtp, u.m_bSafeFtp, e.bSafeFtp);
    FtpTransportSettings& t = u.m_ftpTransport;
    WriteIfChanged(store, Keys::FtpProtocol, t.nProtocol, e.ftpTransport.nProtocol);
    WriteIfChanged(store, Keys::FtpTransferMode, t.nTransferMode, e.ftpTransport.nTransferMode);
    WriteIfChanged(store, Keys::FtpServerKey, t.strServerKey, e.ftpTransport.strServerKey);
    WriteIfChanged(store, Keys::FtpPrivateKey, t.strPrivateKey, e.ftpTransport.strPrivateKey);
    WriteIfChanged(store, Keys::FtpRegion, t.strRegion, e.ftpTransport.strRegion);
    WriteIfChanged(store, Keys::FtpFormField, t.strFormField, e.ftpTransport.strFormField);
    WriteIfChanged(store, Keys::RemotePath, u.m_strRemotePath, e.strRemotePath);
    for (int i = 0; i < CUpload::kExtraDestinations; ++i)
        SaveDestination(u.m_destinations[i], e.destinations[i], store, i);
    WriteIfChanged(store, Keys::LocalPath, u.m_strLocalPath, e.strLocalPath);
    WriteIfChanged(store, Keys::Quality, u.m_nQuality, e.nQuality);
    WriteIfChanged(store, Keys::CaptionHorzPos, u.m_nCaptionHorzPos, e.nCaptionHorzPos);
    WriteIfChanged(store, Keys::CaptionVertPos, u.m_nCaptionVertPos, e.nCaptionVertPos);
    WriteIfChanged(store, Keys::ShowTime, u.m_bShowTime, e.bShowTime);
    WriteIfChanged(store, Keys::TimeFormat, u.m_strTimeFormat, e.strTimeFormat);
    WriteIfChanged(store, Keys::FontName, u.m_strFontName, e.strFontName);
    WriteIfChanged(store, Keys::FontPointSize, u.m_nFontPointSize, e.nFontPointSize);
    WriteIfChanged(store, Keys::CaptionColor, u.m_crCaptionColor, e.crCaptionColor);
    WriteIfChanged(store, Keys::IntervalSecs, u.m_nIntervalSecs,
                   IntervalFromForm(e.nIntervalCount, e.nIntervalUnit));
    WriteIfChanged(store, Keys::FromSecs, u.m_nFromSecs, SpanFromText(e.strFrom));
    WriteIfChanged(store, Keys::ToSecs, u.m_nToSecs, SpanFromText(e.strTo));
    WriteIfChanged(store, Keys::All24Hours, u.m_b24Hours, e.b24Hours);
    WriteIfChanged(store, Keys::UploadMode, u.m_nUploadMode, e.nUploadMode);
    WriteIfChanged(store, Keys::NumSeries, u.m_nNumSeries, e.nNumSeries);
    if (u.m_fMaxFps != e.fMaxFps) {
        u.m_fMaxFps = e.fMaxFps;
        store.WriteString(Keys::MaxFps.section, Keys::MaxFps.entry, FormatMaxFps(e.fMaxFps));
    }
    int retry = RetryFailedInForce() ? 1 : 0;
    WriteIfChanged(store, Keys::RetryFailed, retry, e.bRetryFailed);
    SetRetryFailed(retry != 0);
}
