// FTP transfers of the upload engine: what other parts and the tests see of them.
#pragma once

// Two-digit suffix (0..99) of the next transfer's temporary and aside names.
extern int s_nFtpSwapIndex;

// Longest remote name whose temporary name and status lines fit the fixed
// buffers of the names; longer names are refused, never cut.
constexpr int kMaxRemoteNameBytes = 198;
