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

inline constexpr IntKey NoColorWarning{"General", "No Color Warning", 0};
inline constexpr IntKey Minimized{"General", "Minimized", 0};
inline constexpr IntKey VideoSource{"General", "Video Source", 0};

} // namespace Keys
