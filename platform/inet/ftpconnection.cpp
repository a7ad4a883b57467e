#include "ftpconnection.h"

#include "localfile.h"
#include "wininet.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace
{

void LogLine(const std::string& text)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s log: %s\n", stamp, text.c_str());
}

// The size in a reply to SIZE: "213 N"; 0 when the file is missing (550),
// -1 when the server cannot tell.
curl_off_t SizeReply(const std::string& reply)
{
    if (reply.rfind("550", 0) == 0)
        return 0;
    if (reply.rfind("213 ", 0) != 0)
        return -1;
    char* end = nullptr;
    long long n = std::strtoll(reply.c_str() + 4, &end, 10);
    return end != reply.c_str() + 4 && n >= 0 ? curl_off_t(n) : -1;
}

// Whatever libcurl would print (the size query's pseudo headers) goes nowhere.
size_t Discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

// An SFTP command argument: quoted, so blanks and quotes stay in the name.
std::string SftpArgument(const std::string& name)
{
    std::string out = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

FtpConnection::FtpConnection(const ConnectionOptions& options)
    : CurlSession(options.timeoutSeconds),
      m_base(ServerUrl(options.server, options.transport.protocol)), m_transport(options.transport)
{
    if (!m_easy)
        return;
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &FtpConnection::KeepReply);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Discard);
    curl_easy_setopt(m_easy, CURLOPT_ACCEPTTIMEOUT_MS, options.timeoutSeconds * 1000);
    curl_easy_setopt(m_easy, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(m_easy, CURLOPT_FTPPORT, options.passive ? nullptr : "-");
    // Proxies only steer the passive decision; an HTTP proxy would turn FTP
    // into HTTP requests that cannot rename or delete.
    curl_easy_setopt(m_easy, CURLOPT_PROXY, "");
    if (!options.user.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_USERNAME, options.user.c_str());
        curl_easy_setopt(m_easy, CURLOPT_PASSWORD, options.password.c_str());
        curl_easy_setopt(m_easy, CURLOPT_KEYPASSWD, options.password.c_str());
    }
    m_setupError = m_transport.Configure(m_easy, &m_failureText);
}

DWORD FtpConnection::Login()
{
    BusyScope busy(m_busy);
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (m_setupError)
        return m_setupError;
    return Perform(false, [this] {
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL,
                         RemoteUrl(m_base, m_transport.Protocol(), "").c_str());
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    });
}

DWORD FtpConnection::Put(const char* localPath, const char* remoteName, bool ascii)
{
    BusyScope busy(m_busy);
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    std::FILE* file = nullptr;
    if (DWORD error = OpenLocalFile(localPath, &file))
        return error;
    LocalFileReader reader(file, ascii);
    struct stat st;
    curl_off_t size = ::fstat(fileno(file), &st) == 0 ? curl_off_t(st.st_size) : -1;
    std::string url = RemoteUrl(m_base, m_transport.Protocol(), remoteName);
    std::string folderRefusal;
    const std::string folder = MakeFolders(remoteName, &folderRefusal);
    // Over FTP the size is asked right after the upload, in the same request;
    // "*": a server without SIZE must not fail the upload.
    const bool measure = !ascii && size >= 0;
    curl_slist* sizeQuery = nullptr;
    if (measure && !m_transport.IsSftp())
        sizeQuery = curl_slist_append(nullptr, ("*SIZE " + std::string(remoteName)).c_str());
    DWORD error = Perform(true, [&] {
        reader.Rewind();
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(m_easy, CURLOPT_READFUNCTION, &LocalFileReader::Read);
        curl_easy_setopt(m_easy, CURLOPT_READDATA, &reader);
        // SFTP stores bytes as sent: the reader's bare LF lines are the text,
        // and libcurl's own LF to CR LF conversion must stay off.
        curl_easy_setopt(m_easy, CURLOPT_TRANSFERTEXT, ascii && !m_transport.IsSftp() ? 1L : 0L);
        curl_easy_setopt(m_easy, CURLOPT_INFILESIZE_LARGE, ascii ? curl_off_t(-1) : size);
        curl_easy_setopt(m_easy, CURLOPT_POSTQUOTE, sizeQuery);
    });
    curl_easy_setopt(m_easy, CURLOPT_POSTQUOTE, nullptr);
    curl_slist_free_all(sizeQuery);
    if (error && reader.Failed())
        return ERROR_ACCESS_DENIED;
    if (error == ERROR_INTERNET_EXTENDED_ERROR && !folderRefusal.empty()) {
        m_failureText = "Cannot create remote folder " + folder + " (" + folderRefusal + ")";
        return ERROR_VIZO_REMOTE_FOLDER;
    }
    if (!error && !folder.empty())
        m_folders.insert(folder);
    // Text changes length on the way (line ends), so only binary is measured.
    if (!error && measure)
        error = CheckArrived(remoteName, size, sizeQuery ? SizeReply(m_lastReply) : kAskSize);
    return error;
}

// Made before the upload, not after its refusal: servers refuse a missing
// folder with the code of any other refusal. Returns the innermost folder
// (empty: none to make); *refusal: why it could not be made, when it was not.
std::string FtpConnection::MakeFolders(const std::string& remoteName, std::string* refusal)
{
    const std::vector<std::string> levels = FolderLevels(remoteName);
    if (levels.empty() || m_folders.count(levels.back()))
        return levels.empty() ? std::string() : levels.back();
    bool made = false;
    for (const std::string& level : levels) {
        const bool sftp = m_transport.IsSftp();
        DWORD error = Quote({sftp ? "mkdir " + SftpArgument(level) : "MKD " + level});
        if (error == 0) {
            made = true;
            refusal->clear();
        } else if (error == ERROR_INTERNET_EXTENDED_ERROR) {
            // It may exist already: only the upload can tell.
            *refusal = sftp ? std::string(m_errorText) : m_refusalText;
        } else {
            break; // the connection's trouble, which the upload then reports
        }
    }
    if (made)
        m_note = "Created remote folder " + levels.back();
    return levels.back();
}

// A server may cut the data connection and still report success; a short
// temporary must never be renamed into place.
DWORD FtpConnection::CheckArrived(const char* remoteName, curl_off_t localSize,
                                  curl_off_t remoteSize)
{
    if (remoteSize == kAskSize) {
        DWORD error = RemoteSize(remoteName, &remoteSize);
        if (error == ERROR_INTERNET_EXTENDED_ERROR)
            remoteSize = 0; // gone
        else if (error)
            return error;
    }
    if (remoteSize < 0) {
        if (!m_sizeUnknownLogged)
            LogLine("The server does not tell file sizes (SIZE); uploads are not checked for "
                    "completeness on this connection.");
        m_sizeUnknownLogged = true;
        return 0;
    }
    if (remoteSize == localSize)
        return 0;
    m_failureText = "only " + std::to_string(remoteSize) + " of " + std::to_string(localSize) +
                    " bytes arrived";
    std::string reason = m_failureText;
    Quote({DeleteCommand(remoteName)});
    m_failureText = reason;
    return ERROR_VIZO_SHORT_TRANSFER;
}

DWORD FtpConnection::RemoteSize(const std::string& name, curl_off_t* size)
{
    std::string url = RemoteUrl(m_base, m_transport.Protocol(), name);
    DWORD error = Perform(false, [&] {
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    });
    if (!error)
        curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, size);
    return error;
}

DWORD FtpConnection::Rename(const std::string& from, const std::string& to)
{
    BusyScope busy(m_busy);
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (!m_transport.IsSftp())
        return Quote({"RNFR " + from, "RNTO " + to});
    if (Quote({"rename " + SftpArgument(from) + " " + SftpArgument(to)}) == 0)
        return 0;
    return SftpReplace(from, to);
}

// OpenSSH's server refuses to rename onto an existing name and offers its
// atomic rename only as an extension libcurl cannot send. So the old file is
// moved aside first and put back when the rename fails.
DWORD FtpConnection::SftpReplace(const std::string& from, const std::string& to)
{
    const std::string aside = SftpArgument(to + ".old");
    Quote({"rm " + aside}); // a leftover of an earlier failure
    if (DWORD error = Quote({"rename " + SftpArgument(to) + " " + aside}))
        return error; // no old file either: the first refusal had another reason
    DWORD error = Quote({"rename " + SftpArgument(from) + " " + SftpArgument(to)});
    Quote({error ? "rename " + aside + " " + SftpArgument(to) : "rm " + aside});
    return error;
}

DWORD FtpConnection::Delete(const std::string& name)
{
    BusyScope busy(m_busy);
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    return Quote({DeleteCommand(name)});
}

std::string FtpConnection::DeleteCommand(const std::string& name) const
{
    return m_transport.IsSftp() ? "rm " + SftpArgument(name) : "DELE " + name;
}

DWORD FtpConnection::Quote(const std::vector<std::string>& commands)
{
    // libcurl drops the whole FTP connection when a command is refused, so a
    // refusal (an old picture not there to move aside) would cost a new login.
    // Refusals are let through ("*") and read from the replies instead.
    const bool ftp = !m_transport.IsSftp();
    curl_slist* list = nullptr;
    for (const std::string& command : commands)
        list = curl_slist_append(list, ((ftp ? "*" : "") + command).c_str());
    m_watchRefusals = ftp;
    DWORD error = Perform(true, [&] {
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL,
                         RemoteUrl(m_base, m_transport.Protocol(), "").c_str());
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(m_easy, CURLOPT_QUOTE, list);
    });
    m_watchRefusals = false;
    curl_easy_setopt(m_easy, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(list);
    if (!error && m_refusal)
        error = m_refusal == 421 ? ERROR_FTP_DROPPED : ERROR_INTERNET_EXTENDED_ERROR;
    return error;
}

size_t FtpConnection::KeepReply(char* text, size_t size, size_t count, void* self)
{
    auto* connection = static_cast<FtpConnection*>(self);
    std::string& reply = connection->m_lastReply;
    reply.assign(text, size * count);
    // The last line of a reply: three digits and a blank.
    bool final = reply.size() > 3 && reply[3] == ' ' && reply[0] >= '1' && reply[0] <= '5';
    if (connection->m_watchRefusals && final && reply[0] >= '4' && !connection->m_refusal) {
        connection->m_refusal = std::atoi(reply.substr(0, 3).c_str());
        connection->m_refusalText = reply.substr(0, reply.find_last_not_of("\r\n") + 1);
    }
    return size * count;
}

void FtpConnection::ResetRequest()
{
    m_errorText[0] = '\0';
    m_lastReply.clear();
    m_refusal = 0; // a retry starts afresh
    m_refusalText.clear();
    m_failureText.clear();
    curl_easy_setopt(m_easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_easy, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(m_easy, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(m_easy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(m_easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
}

DWORD FtpConnection::Perform(bool retryOnDrop, const std::function<void()>& prepare)
{
    if (!m_easy)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (int attempt = 0;; ++attempt) {
        prepare();
        int osError = 0;
        CURLcode result = RunOnce(&osError);
        if (result == CURLE_OK)
            return 0;
        if (Cancelled())
            return ERROR_FTP_DROPPED;
        long reply = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &reply);
        // A server that dropped an idle connection answers 421 once; curl
        // logs in again on the retry.
        if (retryOnDrop && attempt == 0 && reply == 421)
            continue;
        DWORD code = MapCurlError(result, reply, osError, m_errorText);
        return m_transport.Explain(code, result, m_errorText, m_lastReply, &m_failureText);
    }
}
