// Placeholder until the FTP session and transfer land: every transfer fails.
#include "CUpload.h"

HINTERNET CUpload::OpenInternet() { return nullptr; }
void CUpload::CloseInternet(HINTERNET) {}
HINTERNET CUpload::OpenFtpSession(HINTERNET) { return nullptr; }
void CUpload::CloseFtpSession(HINTERNET) {}
bool CUpload::PutFile(HINTERNET, const QString&, const QString&, DWORD) { return false; }
bool CUpload::Transfer(const QString&, const QString&, DWORD) { return false; }
bool CUpload::UploadFile() { return false; }
bool CUpload::Connect() { return false; }
void CUpload::Disconnect() {}
void CUpload::Abort() { m_bAbort = 1; }
void CUpload::ReportFailure(const QString&) { s_bCloseMessages = false; }
