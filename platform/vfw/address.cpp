#include "address.h"

namespace
{

// The connect and read time-out of every network source, in microseconds:
// a dead camera is noticed within it.
constexpr const char* kNetworkTimeoutUs = "5000000";

bool EndsToken(QChar c)
{
    return c.isSpace() || c == QLatin1Char('\'') || c == QLatin1Char('"') ||
           c == QLatin1Char('<') || c == QLatin1Char('>');
}

bool AllDigits(const QStringView text)
{
    for (QChar c : text)
        if (!c.isDigit())
            return false;
    return true;
}

// The span of the password in text[from, end) after "://", or an empty one.
std::pair<int, int> PasswordSpan(const QString& text, int from, int end)
{
    int authority = from;
    while (authority < end && !QStringLiteral("/?#").contains(text[authority]))
        ++authority;
    int at = text.lastIndexOf(QLatin1Char('@'), authority - 1);
    if (at < from) {
        // A password holding an unencoded '/' ends the host part early; what
        // looks like a port that is not a number then is most of a password.
        const int colon = text.indexOf(QLatin1Char(':'), from);
        if (colon < 0 || colon >= authority ||
            AllDigits(QStringView(text).mid(colon + 1, authority - colon - 1)))
            return {0, 0};
        at = text.lastIndexOf(QLatin1Char('@'), end - 1);
        if (at < authority)
            return {0, 0};
    }
    const int colon = text.indexOf(QLatin1Char(':'), from);
    if (colon < 0 || colon > at)
        return {0, 0};
    return {colon + 1, at};
}

} // namespace

QString MaskAddressPasswords(const QString& text)
{
    QString out;
    int copied = 0;
    for (int scheme = text.indexOf(QLatin1String("://")); scheme >= 0;
         scheme = text.indexOf(QLatin1String("://"), scheme + 3)) {
        const int from = scheme + 3;
        if (from < copied)
            continue;
        int end = from;
        while (end < text.size() && !EndsToken(text[end]))
            ++end;
        const auto [begin, stop] = PasswordSpan(text, from, end);
        if (begin >= stop)
            continue;
        out += QStringView(text).mid(copied, begin - copied);
        out += QLatin1String("***");
        copied = stop;
    }
    if (copied == 0)
        return text;
    out += QStringView(text).mid(copied);
    return out;
}

NetworkInput NetworkInputFor(const QString& input)
{
    NetworkInput n{input, {}};
    if (!input.contains(QLatin1String("://")))
        return n;
    const QString scheme = input.left(input.indexOf(QLatin1String("://"))).toLower();
    if (scheme == QLatin1String("rtsp+udp")) {
        n.url = QLatin1String("rtsp") + input.mid(scheme.size());
        n.options.push_back({"rtsp_transport", "udp"});
    } else if (scheme == QLatin1String("rtsp") || scheme == QLatin1String("rtsps")) {
        n.options.push_back({"rtsp_transport", "tcp"});
    }
    // RTSP reads "timeout" as its socket time-out, the other protocols read
    // "rw_timeout"; each ignores the other's.
    n.options.push_back({"rw_timeout", kNetworkTimeoutUs});
    n.options.push_back({"timeout", kNetworkTimeoutUs});
    return n;
}
