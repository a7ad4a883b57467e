// Readable English for every code the layer returns.
#include "nmbus.h"
#include "rasimpl.h"

namespace
{

struct Text {
    UINT code;
    const char* text;
};

const Text kTexts[] = {
    {ERROR_INVALID_HANDLE, "The connection no longer exists"},
    {ERROR_INVALID_PARAMETER, "A parameter of the dial-up call is wrong"},
    {ERROR_BUFFER_TOO_SMALL, "The buffer for the dial-up listing is too small"},
    {ERROR_CANNOT_OPEN_PHONEBOOK, "Only NetworkManager's connection profiles serve as phone book"},
    {ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, "NetworkManager has no dial-up profile of that name"},
    {ERROR_INVALID_SIZE, "A dial-up record has the wrong size"},
    {ERROR_PROJECTION_NOT_COMPLETE, "The connection has not finished connecting"},
    {ERROR_PROTOCOL_NOT_CONFIGURED, "The connection carries no IPv4 configuration"},
    {VIZO_NM_NOT_RUNNING, "NetworkManager is not running (not found on the system bus)"},
    {VIZO_NM_NO_REPLY, "NetworkManager did not answer in time"},
    {VIZO_NM_PERMISSION_DENIED, "NetworkManager does not allow this user to do that"},
    {VIZO_NM_NO_DEVICE, "No device (modem) can carry this connection now"},
    {VIZO_NM_REFUSED, "NetworkManager refused the request"},
    {VIZO_NM_BAD_REPLY, "NetworkManager gave an answer that could not be read"},
    {VIZO_NM_DIAL_TIMEOUT, "The connection did not come up within the time limit"},
};

// NetworkManager's reasons for an active connection's state change.
const char* const kReasons[] = {
    "NetworkManager gave no reason for ending the connection",
    "The connection ended without a reason given",
    "The connection was disconnected by a user",
    "The modem or device lost its connection",
    "The VPN service stopped",
    "The IP configuration was invalid",
    "The VPN service did not connect in time",
    "The VPN service did not start in time",
    "The VPN service could not be started",
    "NetworkManager had no password or secrets for the connection",
    "Login to the provider failed: user name or password refused",
    "The connection profile was deleted",
    "A connection this one depends on failed",
    "The network device could not be created",
    "The device of the connection disappeared",
};

QByteArray TextOf(UINT code)
{
    for (const Text& t : kTexts)
        if (t.code == code)
            return t.text;
    if (code >= VIZO_NM_REASON_BASE && code < VIZO_NM_REASON_BASE + 100) {
        const UINT reason = code - VIZO_NM_REASON_BASE;
        if (reason < sizeof kReasons / sizeof kReasons[0])
            return kReasons[reason];
        return "NetworkManager ended the connection (reason " + QByteArray::number(reason) + ")";
    }
    return "Unknown dial-up error " + QByteArray::number(code);
}

} // namespace

VIZO_RAS_EXPORT DWORD RasGetErrorStringA(UINT code, LPSTR buffer, DWORD size)
{
    if (!buffer || size == 0)
        return ERROR_INVALID_PARAMETER;
    const QByteArray text = TextOf(code);
    // NetworkManager's own words help most, when they fit.
    const QByteArray detail = nm::LastRefusal();
    if (code == VIZO_NM_REFUSED && !detail.isEmpty() &&
        ras::PutField(buffer, size, text + ": " + detail))
        return 0;
    if (ras::PutField(buffer, size, text))
        return 0;
    buffer[0] = '\0';
    return ERROR_INSUFFICIENT_BUFFER;
}
