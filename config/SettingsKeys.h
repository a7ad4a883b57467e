// Every stored value: section, value name and default, in one table.
#pragma once

namespace Keys
{

struct IntKey {
    const char* section;
    const char* entry;
    int def;
};
struct StrKey {
    const char* section;
    const char* entry;
    const char* def;
};

inline constexpr StrKey DialupConnection{"Dialup", "Connection", ""};
inline constexpr IntKey DialupRetries{"Dialup", "Retry", 3};
inline constexpr IntKey UseDialup{"Dialup", "Use Dialup", 1};

inline constexpr StrKey FtpServer{"FTP", "Server", ""};
inline constexpr StrKey FtpUsername{"FTP", "Username", ""};
inline constexpr StrKey FtpPassword{"FTP", "Password", ""};
inline constexpr IntKey UseFtp{"FTP", "Use FTP", 1};
inline constexpr IntKey SafeFtp{"FTP", "Safe FTP", 0};
// 0 FTP, 1 explicit TLS, 2 implicit TLS, 3 SFTP; 0 automatic, 1 passive, 2 active.
inline constexpr IntKey FtpProtocol{"FTP", "Protocol", 0};
inline constexpr IntKey FtpTransferMode{"FTP", "Transfer Mode", 0};
inline constexpr StrKey FtpServerKey{"FTP", "Server Key", ""};
inline constexpr StrKey FtpPrivateKey{"FTP", "Private Key", ""};

inline constexpr StrKey RemotePath{"Path", "Remote", "vizo.jpg"};
inline constexpr IntKey Quality{"Path", "Quality", 50};
// Empty means the program directory followed by DefaultPictureName.
inline constexpr StrKey LocalPath{"Path", "Local", ""};
inline constexpr const char* DefaultPictureName = "vizo.jpg";

inline constexpr IntKey CaptionHorzPos{"Time", "Horizontal Position", 1};
inline constexpr IntKey CaptionVertPos{"Time", "Vertical Position", 0};
inline constexpr IntKey ShowTime{"Time", "Show Time", 1};
inline constexpr StrKey TimeFormat{"Time", "Format", "%B %d %Y %H:%M:%S"};
inline constexpr StrKey FontName{"Time", "Font", "Arial"};
inline constexpr IntKey FontPointSize{"Time", "PointSize", 180};
inline constexpr IntKey CaptionColor{"Time", "Color", 65280};

inline constexpr IntKey IntervalSecs{"Upload", "Interval", 900};
inline constexpr IntKey FromSecs{"Upload", "From", 32400};
inline constexpr IntKey ToSecs{"Upload", "To", 64800};
inline constexpr IntKey All24Hours{"Upload", "24 Hours", 1};
inline constexpr IntKey UploadMode{"Upload", "Mode", 0};
inline constexpr IntKey NumSeries{"Upload", "Num Series", 100};
inline constexpr StrKey MaxFps{"Upload", "Max Fps", "2"};
// Run on the first failure after a success and on recovery; empty: none.
inline constexpr StrKey NotifyCommand{"Upload", "Notify Command", ""};

inline constexpr IntKey NoColorWarning{"General", "No Color Warning", 0};
inline constexpr IntKey Minimized{"General", "Minimized", 0};
inline constexpr IntKey VideoSource{"General", "Video Source", 0};
// Frames skipped after a camera or network source opens, while exposure settles.
inline constexpr IntKey WarmUpFrames{"General", "Warm-up Frames", 5};
// The format chosen for each source: the value name is the source's name
// (SourceFormatEntry); the value "WIDTHxHEIGHTxBITS", optionally followed by
// " ENCODING@FPS" ("1920x1080x24 mjpeg@30").
inline constexpr const char* VideoFormatSection = "Video Format";
// The camera controls set for each source, value names as above; the value
// "ID=VALUE,ID=VALUE" with V4L2 control ids in decimal.
inline constexpr const char* VideoControlsSection = "Video Controls";

// Sources beyond the devices: the value name is the source's name
// (SourceFormatEntry), the value "FORMAT:INPUT".
inline constexpr const char* VideoSourcesSection = "Video Sources";

// The picture archive and its daily timelapse; off by default.
inline constexpr IntKey UseArchive{"Archive", "Use Archive", 0};
// Empty means the user's pictures folder followed by /Vizo/%Y-%m-%d.
inline constexpr StrKey ArchiveFolder{"Archive", "Folder", ""};
inline constexpr StrKey ArchiveName{"Archive", "Name", "%H%M%S.jpg"};
inline constexpr IntKey ArchiveMinSecs{"Archive", "Min Seconds", 60};
inline constexpr IntKey ArchiveKeepDays{"Archive", "Keep Days", 30};
inline constexpr IntKey ArchiveMaxMB{"Archive", "Max MB", 0};
// Below this much free space on its file system the archive keeps no more
// pictures (0: no guard); uploads are not affected.
inline constexpr IntKey ArchiveMinFreeMB{"Archive", "Min Free MB", 500};
inline constexpr IntKey Timelapse{"Archive", "Timelapse", 0};
inline constexpr IntKey TimelapseAt{"Archive", "Timelapse At", 300};
inline constexpr IntKey TimelapseFps{"Archive", "Timelapse Fps", 25};
inline constexpr StrKey TimelapseRemote{"Archive", "Timelapse Remote", "timelapse/%Y-%m-%d.mp4"};

// What keeps the caption readable (0 none, 1 outline, 2 shadow, 3 box) and its
// colour, encoded like Color; an image drawn under the caption, placed as
// 3 x vertical + horizontal position (0 top left .. 8 bottom right).
inline constexpr IntKey CaptionOutline{"Time", "Outline", 0};
inline constexpr IntKey CaptionOutlineColor{"Time", "Outline Color", 0};
inline constexpr StrKey OverlayImage{"Overlay", "Image", ""};
inline constexpr IntKey OverlayPosition{"Overlay", "Position", 8};
inline constexpr IntKey OverlayOpacity{"Overlay", "Opacity", 100};

// Uploads only while the sun is above Sun Altitude (degrees) at Latitude and
// Longitude (decimal degrees with a dot, north and east positive); off by default.
inline constexpr IntKey DaylightOnly{"Upload", "Daylight Only", 0};
inline constexpr StrKey DaylightLatitude{"Upload", "Latitude", ""};
inline constexpr StrKey DaylightLongitude{"Upload", "Longitude", ""};
inline constexpr StrKey DaylightSunAltitude{"Upload", "Sun Altitude", "-6"};

// HTTP destinations ([FTP] Protocol 4 WebDAV, 5 S3-compatible, 6 HTTP POST).
inline constexpr StrKey FtpRegion{"FTP", "Region", ""}; // empty: us-east-1
inline constexpr StrKey FtpFormField{"FTP", "Form Field", "file"};
// Destinations 2 to 4 beyond [FTP]: sections "Destination 2".."Destination 4",
// each with these values (the section is filled in by DestinationKey); the
// meanings are those of [FTP]'s. Use 0 keeps a destination off; Max Width 0
// publishes the picture as taken, otherwise a copy at most that wide.
inline constexpr int FirstExtraDestination = 2;
inline constexpr const char* DestinationSectionFormat = "Destination %1";
inline constexpr IntKey DestUse{nullptr, "Use", 0};
inline constexpr IntKey DestProtocol{nullptr, "Protocol", 0};
inline constexpr StrKey DestServer{nullptr, "Server", ""};
inline constexpr StrKey DestUsername{nullptr, "Username", ""};
inline constexpr StrKey DestPassword{nullptr, "Password", ""};
inline constexpr IntKey DestTransferMode{nullptr, "Transfer Mode", 0};
inline constexpr StrKey DestServerKey{nullptr, "Server Key", ""};
inline constexpr StrKey DestPrivateKey{nullptr, "Private Key", ""};
inline constexpr StrKey DestRegion{nullptr, "Region", ""};
inline constexpr StrKey DestFormField{nullptr, "Form Field", "file"};
inline constexpr StrKey DestRemote{nullptr, "Remote", "vizo.jpg"};
inline constexpr IntKey DestMaxWidth{nullptr, "Max Width", 0};

// A failed single shot or series is tried again before the next regular
// upload; 0 waits for that one.
inline constexpr IntKey RetryFailed{"Upload", "Retry Failed", 1};

} // namespace Keys
