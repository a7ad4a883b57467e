// What a failed transfer leaves on the server, and its removal: through the
// session when it still works, through a brief connection of our own after an
// Abort, or by the next successful upload of the name when neither could.
#pragma once

#include "CUpload.h"

#include <QByteArray>

namespace ftpcleanup
{

constexpr DWORD_PTR kContext = 666;

// What a failed transfer may have left: the temporary, and the live file moved
// aside (empty name when it was not).
struct Leftovers {
    QByteArray temporary;
    QByteArray aside;
    QByteArray remote;
};

bool RenameWithRetries(const CUpload::InternetTable& inet, HINTERNET session,
                       const QByteArray& from, const QByteArray& to);
HINTERNET ConnectSession(CUpload& u, HINTERNET internet);

// Puts the live file back and deletes the temporary; true when both went well.
bool Remove(CUpload& u, HINTERNET session, const Leftovers& left);
// After a failed transfer; keeps the thread's last error.
void RemoveLeftovers(CUpload& u, HINTERNET session, const Leftovers& left);
// After a successful one: what earlier failures left of this name.
void RemoveUnfinished(CUpload& u, HINTERNET session, const QByteArray& remote);
// An upload to this temporary begins: whatever it held is replaced.
void ForgetUnfinished(const CUpload& u, const QByteArray& temporary);
// Whether a failed upload sent nothing, so that nothing needs removing.
bool NothingSent(DWORD code);

} // namespace ftpcleanup
