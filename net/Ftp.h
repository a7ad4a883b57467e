// FTP transfers of the upload engine: what other parts and the tests see of them.
#pragma once

#include "CUpload.h"

#include <QString>

// Two-digit suffix (0..99) of the next transfer's temporary and aside names.
extern int s_nFtpSwapIndex;

// Longest remote name whose temporary name and status lines fit the fixed
// buffers of the names; longer names are refused, never cut.
constexpr int kMaxRemoteNameBytes = 198;

// The layer's reason for the failure with this code, worded as the status
// lines show it in brackets.
QString FailureReason(const CUpload::InternetTable& inet, DWORD code);
// What the layer did on the way that the user should read once (a remote
// folder made), or empty.
QString LayerNote(const CUpload::InternetTable& inet);
// A login with the destination's protocol, keys and transfer mode.
HINTERNET ConnectDestination(const CUpload::InternetTable& inet, HINTERNET internet,
                             const FtpDestination& d, DWORD_PTR context);
