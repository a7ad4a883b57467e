#include "ftpconnection.h"

#include "localfile.h"
#include "wininet.h"

#include <cstdio>
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

// Whatever libcurl would print (the size query's pseudo headers) goes nowhere.
size_t Discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

} // namespace

FtpConnection::FtpConnection(const ConnectionOptions& options)
    : CurlSession(options.timeoutSeconds),
      m_base(ServerUrl(options.server, options.transport.protocol)), m_transport(options.transport),
      m_dialect(m_transport.IsSftp())
{
    if (!m_easy)
        return;
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &FtpConnection::KeepReply);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Discard);
    const long timeout = options.timeoutSeconds;
    curl_easy_setopt(m_easy, CURLOPT_ACCEPTTIMEOUT_MS, timeout * 1000);
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
    BusyScope busy(m_runner.BusyFlag());
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
    BusyScope busy(m_runner.BusyFlag());
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
    const bool measure = !ascii && size >= 0;
    const std::string askSize = measure ? m_dialect.SizeQuery(remoteName) : std::string();
    curl_slist* sizeQuery = askSize.empty() ? nullptr : curl_slist_append(nullptr, askSize.c_str());
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
        error = CheckArrived(remoteName, size, sizeQuery ? SizeInReply(m_lastReply) : kAskSize);
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
        DWORD error = Quote({m_dialect.MakeFolder(level)});
        if (error == 0) {
            made = true;
            refusal->clear();
        } else if (error == ERROR_INTERNET_EXTENDED_ERROR) {
            // It may exist already: only the upload can tell, and a refusal
            // that says so leaves the upload's own reason to be given.
            const std::string why =
                m_dialect.Sftp() ? std::string(m_runner.ErrorText()) : m_refusalText;
            if (RefusalSaysExists(why))
                refusal->clear();
            else
                *refusal = why;
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
    Quote({m_dialect.Delete(remoteName)});
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
    BusyScope busy(m_runner.BusyFlag());
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    DWORD error = Quote(m_dialect.Rename(from, to));
    return error && m_dialect.Sftp() ? SftpReplace(from, to) : error;
}

// OpenSSH's server refuses to rename onto an existing name and offers its
// atomic rename only as an extension libcurl cannot send. So the old file is
// moved aside first and put back when the rename fails. Readers find no file
// between the two renames: they go in one request, the second sent as soon as
// the first is answered.
DWORD FtpConnection::SftpReplace(const std::string& from, const std::string& to)
{
    const std::string aside = to + ".old";
    Quote({m_dialect.Delete(aside)}); // a leftover of an earlier failure
    std::vector<std::string> both = m_dialect.Rename(to, aside);
    both.push_back(m_dialect.Rename(from, to).front());
    DWORD error = Quote(both);
    // After a failure of the first rename there is no aside to put back, and
    // this one is refused harmlessly.
    Quote({error ? m_dialect.Rename(aside, to).front() : m_dialect.Delete(aside)});
    return error;
}

DWORD FtpConnection::Delete(const std::string& name)
{
    BusyScope busy(m_runner.BusyFlag());
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    return Quote({m_dialect.Delete(name)});
}

DWORD FtpConnection::Quote(const std::vector<std::string>& commands)
{
    curl_slist* list = nullptr;
    for (const std::string& command : commands)
        list = curl_slist_append(list, m_dialect.Listed(command).c_str());
    m_watchRefusals = !m_dialect.Sftp();
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
    const int code = FinalReplyCode(reply);
    if (connection->m_watchRefusals && code >= 400 && !connection->m_refusal) {
        connection->m_refusal = code;
        connection->m_refusalText = reply.substr(0, reply.find_last_not_of("\r\n") + 1);
    }
    return size * count;
}

void FtpConnection::ResetRequest()
{
    m_runner.ClearErrorText();
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
        CURLcode result = m_runner.Cancelled() ? CURLE_ABORTED_BY_CALLBACK : m_runner.Run(&osError);
        if (result == CURLE_OK)
            return 0;
        if (m_runner.Cancelled())
            return ERROR_FTP_DROPPED;
        long reply = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &reply);
        // A server that dropped an idle connection answers 421 once; curl
        // logs in again on the retry.
        if (retryOnDrop && attempt == 0 && reply == 421)
            continue;
        DWORD code = MapCurlError(result, reply, osError, m_runner.ErrorText());
        return m_transport.Explain(code, result, m_runner.ErrorText(), m_lastReply, &m_failureText);
    }
}
