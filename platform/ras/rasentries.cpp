// The phone book: entry names and their dial parameters.
#include "nmprofiles.h"
#include "rasimpl.h"

namespace
{

// Stands in for a login the kind does not use and for a saved password, which
// stays with NetworkManager.
constexpr char kNoUserName[] = "*";
constexpr char kSavedPassword[] = "****************";

void FillDialParams(RASDIALPARAMSA* params, const nm::Credentials& c)
{
    params->szPhoneNumber[0] = params->szCallbackNumber[0] = params->szDomain[0] = '\0';
    params->szUserName[0] = params->szPassword[0] = '\0';
    ras::PutField(params->szPhoneNumber, sizeof params->szPhoneNumber, c.phoneNumber.toUtf8());
    if (!c.valid)
        return;
    // A user name too long for the field leaves it empty: the entry then
    // reads as one without a valid login.
    ras::PutField(params->szUserName, sizeof params->szUserName,
                  c.user.isEmpty() ? QByteArray(kNoUserName) : c.user.toUtf8());
    ras::PutField(params->szPassword, sizeof params->szPassword, kSavedPassword);
}

} // namespace

VIZO_RAS_EXPORT DWORD RasEnumEntriesA(LPCSTR reserved, LPCSTR phonebook, RASENTRYNAMEA* entries,
                                      LPDWORD lpcb, LPDWORD lpcEntries)
{
    if (reserved || !lpcb || !lpcEntries)
        return ERROR_INVALID_PARAMETER;
    if (phonebook)
        return ERROR_CANNOT_OPEN_PHONEBOOK;
    if (entries && entries->dwSize != sizeof(RASENTRYNAMEA))
        return ERROR_INVALID_SIZE;
    QList<nm::Profile> profiles;
    if (const DWORD rc = nm::DialupProfiles(&profiles))
        return rc;
    QList<QByteArray> names;
    for (const nm::Profile& p : profiles) {
        // Longer ids cannot be named in a dial parameters record.
        const QByteArray name = p.id.toUtf8();
        if (name.size() <= RAS_MaxEntryName)
            names.append(name);
    }
    const DWORD needed = DWORD(names.size()) * sizeof(RASENTRYNAMEA);
    *lpcEntries = DWORD(names.size());
    if (needed > *lpcb || (!entries && needed > 0)) {
        *lpcb = needed;
        return ERROR_BUFFER_TOO_SMALL;
    }
    *lpcb = needed;
    for (int i = 0; i < names.size(); ++i) {
        std::memset(&entries[i], 0, sizeof(RASENTRYNAMEA));
        entries[i].dwSize = sizeof(RASENTRYNAMEA);
        ras::PutField(entries[i].szEntryName, sizeof entries[i].szEntryName, names[i]);
    }
    return 0;
}

VIZO_RAS_EXPORT DWORD RasGetEntryDialParamsA(LPCSTR phonebook, RASDIALPARAMSA* params,
                                             BOOL* lpfPassword)
{
    nm::Profile profile;
    if (const DWORD rc = nm::ProfileOfRecord(phonebook, params, &profile))
        return rc;
    nm::Credentials credentials;
    if (const DWORD rc = nm::ReadCredentials(profile, &credentials))
        return rc;
    FillDialParams(params, credentials);
    if (lpfPassword)
        *lpfPassword = params->szPassword[0] != '\0';
    return 0;
}
