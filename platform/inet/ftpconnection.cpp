#include "ftpconnection.h"

#include "pump.h"
#include "wininet.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Long enough to stay idle, short enough that painting never waits visibly.
constexpr int kPollMs = 20;

// libcurl waits for the server's final reply to an upload without returning
// to us. Whatever still sits unsent in the socket then has to drain inside that
// wait, unpainted, so keep it small; data already on its way is not limited.
constexpr int kUnsentBytes = 128 * 1024;

int LimitUnsentData(void*, curl_socket_t socket, curlsocktype)
{
    int bytes = kUnsentBytes;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes);
    return CURL_SOCKOPT_OK;
}

// Feeds a local file to the upload. In ASCII mode libcurl turns every LF into
// CR LF on the wire, so CR LF line ends are handed to it as bare LF first;
// otherwise they would arrive as CR CR LF.
class LocalFileReader
{
public:
    LocalFileReader(std::FILE* file, bool ascii) : m_file(file), m_ascii(ascii) {}
    ~LocalFileReader() { std::fclose(m_file); }

    void Rewind()
    {
        std::rewind(m_file);
        m_heldCr = false;
        m_failed = false;
    }
    bool Failed() const { return m_failed; }

    static size_t Read(char* buffer, size_t size, size_t count, void* self)
    {
        return static_cast<LocalFileReader*>(self)->Fill(buffer, size * count);
    }

private:
    size_t Fill(char* buffer, size_t room)
    {
        if (room < 2)
            return 0;
        size_t want = std::min(room - 1, sizeof m_chunk);
        for (;;) {
            size_t got = std::fread(m_ascii ? m_chunk : buffer, 1, want, m_file);
            if (got == 0 && std::ferror(m_file)) {
                m_failed = true;
                return CURL_READFUNC_ABORT;
            }
            if (!m_ascii)
                return got;
            // Zero would mean the end: a chunk of one held CR reads on.
            size_t n = ToBareLineFeeds(got, buffer);
            if (n > 0 || got == 0)
                return n;
        }
    }

    size_t ToBareLineFeeds(size_t got, char* out)
    {
        size_t n = 0;
        for (size_t i = 0; i < got; ++i) {
            char c = m_chunk[i];
            if (m_heldCr && c != '\n')
                out[n++] = '\r';
            m_heldCr = c == '\r';
            if (!m_heldCr)
                out[n++] = c;
        }
        if (got == 0 && m_heldCr) { // a CR that ends the file stays
            out[n++] = '\r';
            m_heldCr = false;
        }
        return n;
    }

    std::FILE* m_file;
    bool m_ascii;
    bool m_heldCr = false;
    bool m_failed = false;
    char m_chunk[32768];
};

DWORD OpenLocalFile(const char* path, std::FILE** file)
{
    struct stat st;
    if (!path || ::stat(path, &st) != 0)
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    if (!S_ISREG(st.st_mode))
        return ERROR_FILE_NOT_FOUND;
    *file = std::fopen(path, "rb");
    return *file ? 0 : ERROR_ACCESS_DENIED;
}

// Flags the connection busy for one call, refusing a nested call on it.
class BusyScope
{
public:
    explicit BusyScope(std::atomic<bool>& busy) : m_busy(busy), m_owned(!busy.exchange(true)) {}
    ~BusyScope()
    {
        if (m_owned)
            m_busy = false;
    }
    bool Owned() const { return m_owned; }

private:
    std::atomic<bool>& m_busy;
    bool m_owned;
};

} // namespace

FtpConnection::FtpConnection(const ServerAddress& server, const char* user, const char* password,
                             bool passive, long timeoutSeconds)
    : m_base(ServerUrl(server))
{
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
    if (!m_easy || !m_multi)
        return;
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_easy, CURLOPT_SOCKOPTFUNCTION, &LimitUnsentData);
    curl_easy_setopt(m_easy, CURLOPT_OPENSOCKETFUNCTION, &FtpConnection::OpenSocket);
    curl_easy_setopt(m_easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_CLOSESOCKETFUNCTION, &FtpConnection::CloseSocket);
    curl_easy_setopt(m_easy, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    curl_easy_setopt(m_easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(m_easy, CURLOPT_ACCEPTTIMEOUT_MS, timeoutSeconds * 1000);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, timeoutSeconds);
    curl_easy_setopt(m_easy, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(m_easy, CURLOPT_FTPPORT, passive ? nullptr : "-");
    // Proxies only steer the passive decision; an HTTP proxy would turn FTP
    // into HTTP requests that cannot rename or delete.
    curl_easy_setopt(m_easy, CURLOPT_PROXY, "");
    if (user && *user) {
        curl_easy_setopt(m_easy, CURLOPT_USERNAME, user);
        curl_easy_setopt(m_easy, CURLOPT_PASSWORD, password ? password : "");
    }
}

FtpConnection::~FtpConnection()
{
    // libcurl says QUIT on the way out and waits for the answer without
    // returning to us, up to the whole reply time-out on a silent server. With
    // our reading side shut it still says QUIT but gives up the wait at once.
    for (curl_socket_t socket : m_sockets)
        ::shutdown(socket, SHUT_RD);
    if (m_easy)
        curl_easy_cleanup(m_easy);
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

DWORD FtpConnection::Login()
{
    BusyScope busy(m_busy);
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    return Perform(false, [this] {
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL, m_base.c_str());
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
    std::string url = m_base + EscapePath(remoteName);
    DWORD error = Perform(true, [&] {
        reader.Rewind();
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(m_easy, CURLOPT_READFUNCTION, &LocalFileReader::Read);
        curl_easy_setopt(m_easy, CURLOPT_READDATA, &reader);
        curl_easy_setopt(m_easy, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
        curl_easy_setopt(m_easy, CURLOPT_INFILESIZE_LARGE, ascii ? curl_off_t(-1) : size);
    });
    if (error && reader.Failed())
        return ERROR_ACCESS_DENIED;
    return error;
}

DWORD FtpConnection::Commands(const std::vector<std::string>& commands)
{
    BusyScope busy(m_busy);
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    curl_slist* list = nullptr;
    for (const std::string& command : commands)
        list = curl_slist_append(list, command.c_str());
    DWORD error = Perform(true, [&] {
        ResetRequest();
        curl_easy_setopt(m_easy, CURLOPT_URL, m_base.c_str());
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(m_easy, CURLOPT_QUOTE, list);
    });
    curl_easy_setopt(m_easy, CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(list);
    return error;
}

curl_socket_t FtpConnection::OpenSocket(void* self, curlsocktype, curl_sockaddr* address)
{
    curl_socket_t socket =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket != CURL_SOCKET_BAD)
        static_cast<FtpConnection*>(self)->m_sockets.insert(socket);
    return socket;
}

int FtpConnection::CloseSocket(void* self, curl_socket_t socket)
{
    static_cast<FtpConnection*>(self)->m_sockets.erase(socket);
    return ::close(socket);
}

void FtpConnection::ResetRequest()
{
    m_errorText[0] = '\0';
    curl_easy_setopt(m_easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(m_easy, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(m_easy, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(m_easy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(m_easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
}

DWORD FtpConnection::Perform(bool retryOnDrop, const std::function<void()>& prepare)
{
    if (!m_easy || !m_multi)
        return ERROR_NOT_ENOUGH_MEMORY;
    for (int attempt = 0;; ++attempt) {
        prepare();
        int osError = 0;
        CURLcode result = RunOnce(&osError);
        if (result == CURLE_OK)
            return 0;
        if (m_cancelled)
            return ERROR_FTP_DROPPED;
        long reply = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &reply);
        // A server that dropped an idle connection answers 421 once; curl
        // logs in again on the retry.
        if (retryOnDrop && attempt == 0 && reply == 421)
            continue;
        return MapCurlError(result, reply, osError, m_errorText);
    }
}

CURLcode FtpConnection::RunOnce(int* osError)
{
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    while (!m_cancelled) {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        CURLMsg* message = curl_multi_info_read(m_multi, &queued);
        if (message && message->msg == CURLMSG_DONE) {
            *osError = errno;
            result = message->data.result;
            break;
        }
        curl_multi_poll(m_multi, nullptr, 0, kPollMs, nullptr);
        PumpWhileBlocked();
    }
    curl_multi_remove_handle(m_multi, m_easy);
    return result;
}
