#include "httpconnection.h"

#include "inetrules.h"
#include "localfile.h"
#include "wininet.h"

#include <QCryptographicHash>
#include <strings.h>
#include <sys/stat.h>

namespace
{

const std::string kEmptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// An error page longer than this says nothing the log could use.
constexpr size_t kBodyLimit = 16384;

// libcurl rewinds a body when it sends a request again on a new connection
// (a reused one the server had closed).
int RewindBody(void* reader, curl_off_t offset, int origin)
{
    if (offset != 0 || origin != SEEK_SET)
        return CURL_SEEKFUNC_CANTSEEK;
    static_cast<LocalFileReader*>(reader)->Rewind();
    return CURL_SEEKFUNC_OK;
}

std::string Hex(const QCryptographicHash& hash)
{
    const QByteArray digest = hash.result();
    return HexOf(reinterpret_cast<const unsigned char*>(digest.constData()), digest.size());
}

// The payload's SHA-256, which S3 wants in a header of its own, and its MD5,
// which a store names as the ETag of what it kept. The file is read once more
// for them, then rewound.
bool HashFile(std::FILE* file, std::string* sha256, std::string* md5)
{
    QCryptographicHash sha(QCryptographicHash::Sha256), digest(QCryptographicHash::Md5);
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        sha.addData(QByteArrayView(buffer, qsizetype(got)));
        digest.addData(QByteArrayView(buffer, qsizetype(got)));
    }
    if (std::ferror(file))
        return false;
    std::rewind(file);
    *sha256 = Hex(sha);
    *md5 = Hex(digest);
    return true;
}

bool Is2xx(long status)
{
    return status >= 200 && status < 300;
}

} // namespace

HttpConnection::HttpConnection(const HttpOptions& options)
    : CurlSession(options.timeoutSeconds), m_server(options.server), m_transport(options.transport)
{
    if (!m_easy)
        return;
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &HttpConnection::KeepBody);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &HttpConnection::KeepEtag);
    curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
    // A redirect would send the picture, and the password, somewhere else.
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    const std::string region =
        options.transport.region.empty() ? "us-east-1" : options.transport.region;
    if (IsS3()) {
        if (!IsRegionName(region)) {
            m_failureText = "Region \"" + region + "\" is not a region name";
            m_setupError = ERROR_INVALID_PARAMETER;
            return;
        }
        ConfigureSigV4(m_easy, options.user, options.password, region);
    } else if (IsPost() && options.user.empty() && !options.password.empty()) {
        curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BEARER));
        curl_easy_setopt(m_easy, CURLOPT_XOAUTH2_BEARER, options.password.c_str());
    } else if (!options.user.empty()) {
        // Sent with the first request: no refused round trip per upload.
        curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(m_easy, CURLOPT_USERNAME, options.user.c_str());
        curl_easy_setopt(m_easy, CURLOPT_PASSWORD, options.password.c_str());
    }
    m_setupError = m_transport.Configure(m_easy, &m_failureText);
}

DWORD HttpConnection::Login()
{
    BusyScope busy(m_runner.BusyFlag());
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (m_setupError)
        return m_setupError;
    // A form's script may act on any request: it is reached only to upload.
    if (IsPost())
        return 0;
    // A listing of nothing: unlike HEAD, its refusal names the store's reason.
    if (IsS3())
        return Expect2xx({"GET", "", {}, "?max-keys=0"});
    return Expect2xx({"PROPFIND", "", {"Depth: 0"}});
}

DWORD HttpConnection::Put(const char* localPath, const char* remoteName, bool)
{
    BusyScope busy(m_runner.BusyFlag());
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (m_setupError)
        return m_setupError;
    if (IsPost())
        return PostForm(localPath, remoteName);
    std::FILE* file = nullptr;
    if (DWORD error = OpenLocalFile(localPath, &file))
        return error;
    struct stat st;
    const curl_off_t size = ::fstat(fileno(file), &st) == 0 ? curl_off_t(st.st_size) : -1;
    if (!IsS3())
        if (DWORD error = MakeFolders(remoteName)) {
            std::fclose(file);
            return error;
        }
    std::string md5;
    DWORD error = PutBody(file, remoteName, size, &md5);
    // An ETag naming the MD5 of what was sent says the whole file is kept;
    // stores whose ETag is no MD5 (encrypted, say) are asked for the size.
    if (!error && IsS3() && m_etag != md5)
        error = CheckStored(remoteName, size);
    return error;
}

// Bytes are sent as they are: HTTP has no text mode.
DWORD HttpConnection::PutBody(std::FILE* file, const std::string& remoteName, curl_off_t size,
                              std::string* md5)
{
    LocalFileReader reader(file, false);
    Request put{"PUT", remoteName, {"Cache-Control: no-cache"}};
    put.headers.push_back(std::string("Content-Type: ") + ContentType(remoteName));
    if (IsS3()) {
        std::string hash;
        if (!HashFile(file, &hash, md5))
            return ERROR_ACCESS_DENIED;
        put.headers.push_back("x-amz-content-sha256: " + hash);
    }
    DWORD error = Expect2xx(put, [&] {
        reader.Rewind();
        curl_easy_setopt(m_easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(m_easy, CURLOPT_READFUNCTION, &LocalFileReader::Read);
        curl_easy_setopt(m_easy, CURLOPT_READDATA, &reader);
        curl_easy_setopt(m_easy, CURLOPT_SEEKFUNCTION, &RewindBody);
        curl_easy_setopt(m_easy, CURLOPT_SEEKDATA, &reader);
        curl_easy_setopt(m_easy, CURLOPT_INFILESIZE_LARGE, size);
    });
    return error && reader.Failed() ? ERROR_ACCESS_DENIED : error;
}

// The object store answers a PUT before anyone can check what it kept; a
// short object must not stay under the final name.
DWORD HttpConnection::CheckStored(const std::string& remoteName, curl_off_t size)
{
    if (DWORD error = Expect2xx({"HEAD", remoteName, {}}))
        return error;
    curl_off_t stored = -1;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &stored);
    if (stored == size || size < 0)
        return 0;
    const std::string reason = "only " + std::to_string(stored < 0 ? 0 : stored) + " of " +
                               std::to_string(size) + " bytes arrived";
    Expect2xx({"DELETE", remoteName, {}});
    m_failureText = reason;
    return ERROR_VIZO_SHORT_TRANSFER;
}

DWORD HttpConnection::PostForm(const char* localPath, const std::string& remoteName)
{
    std::FILE* file = nullptr;
    if (DWORD error = OpenLocalFile(localPath, &file))
        return error;
    std::fclose(file);
    const std::string& field = m_transport.FormField();
    curl_mime* form = curl_mime_init(m_easy);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, field.empty() ? "file" : field.c_str());
    curl_mime_filedata(part, localPath);
    curl_mime_filename(part, remoteName.c_str());
    curl_mime_type(part, ContentType(remoteName));
    // The URL is the script's own: the remote name travels in the form.
    DWORD error = Expect2xx({"POST", "", {"Cache-Control: no-cache"}},
                            [&] { curl_easy_setopt(m_easy, CURLOPT_MIMEPOST, form); });
    curl_easy_setopt(m_easy, CURLOPT_MIMEPOST, nullptr);
    curl_mime_free(form);
    return error;
}

// Made before the upload: a missing folder fails a PUT with 409, which would
// cost the body once more. 405 says the folder is there already.
DWORD HttpConnection::MakeFolders(const std::string& remoteName)
{
    const std::vector<std::string> levels = FolderLevels(remoteName);
    if (levels.empty() || m_folders.count(levels.back()))
        return 0;
    bool made = false;
    for (const std::string& level : levels) {
        long status = 0;
        if (DWORD error = Perform({"MKCOL", level + "/", {}}, &status))
            return error;
        if (status != 405 && !Is2xx(status)) {
            m_failureText =
                "Cannot create remote folder " + level + " (" + HttpStatusText(status) + ")";
            return ERROR_VIZO_REMOTE_FOLDER;
        }
        made = made || Is2xx(status);
    }
    m_folders.insert(levels.back());
    if (made)
        m_note = "Created remote folder " + levels.back();
    return 0;
}

DWORD HttpConnection::Rename(const std::string& from, const std::string& to)
{
    BusyScope busy(m_runner.BusyFlag());
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (IsPost())
        return Unsupported("rename");
    if (!IsS3())
        return Expect2xx({"MOVE", from, {"Destination: " + HttpUrl(m_server, to), "Overwrite: T"}});
    // The store has no rename: a copy on the server, then the old name goes.
    const std::string source = HttpUrl(m_server, from).substr(m_server.origin.size());
    if (DWORD error = Expect2xx({"PUT", to, {"x-amz-copy-source: " + source}}))
        return error;
    return Expect2xx({"DELETE", from, {}});
}

DWORD HttpConnection::Delete(const std::string& name)
{
    BusyScope busy(m_runner.BusyFlag());
    if (!busy.Owned())
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    if (IsPost())
        return Unsupported("delete");
    return Expect2xx({"DELETE", name, {}});
}

DWORD HttpConnection::Unsupported(const char* what)
{
    m_failureText = std::string("An HTTP form upload cannot ") + what + " files on the server";
    return ERROR_VIZO_UNSUPPORTED;
}

DWORD HttpConnection::Expect2xx(const Request& request, const std::function<void()>& prepare)
{
    long status = 0;
    if (DWORD error = Perform(request, &status, prepare))
        return error;
    return Is2xx(status) ? 0 : Refused(status);
}

DWORD HttpConnection::Refused(long status)
{
    m_failureText = HttpStatusText(status, m_body);
    return ERROR_VIZO_HTTP_STATUS;
}

DWORD HttpConnection::Perform(const Request& request, long* status,
                              const std::function<void()>& prepare)
{
    if (!m_easy)
        return ERROR_NOT_ENOUGH_MEMORY;
    ResetRequest();
    const std::string method = request.method;
    const std::string url = HttpUrl(m_server, request.name) + request.query;
    curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
    if (method == "HEAD")
        curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L);
    else if (method != "GET")
        curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, request.method);
    curl_slist* headers = nullptr;
    for (const std::string& header : request.headers)
        headers = curl_slist_append(headers, header.c_str());
    // The store wants the payload's hash on every request, also of no body.
    if (IsS3() && !prepare)
        headers = curl_slist_append(headers, ("x-amz-content-sha256: " + kEmptySha256).c_str());
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, headers);
    if (prepare)
        prepare();
    int osError = 0;
    const CURLcode result =
        m_runner.Cancelled() ? CURLE_ABORTED_BY_CALLBACK : m_runner.Run(&osError);
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (m_runner.Cancelled())
        return ERROR_FTP_DROPPED;
    if (result != CURLE_OK) {
        const DWORD code = MapCurlError(result, 0, osError, m_runner.ErrorText());
        return m_transport.Explain(code, result, m_runner.ErrorText(), std::string(),
                                   &m_failureText);
    }
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, status);
    return 0;
}

void HttpConnection::ResetRequest()
{
    m_runner.ClearErrorText();
    m_failureText.clear();
    m_body.clear();
    m_etag.clear();
    curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L); // also ends upload, HEAD and form
    curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(m_easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
}

size_t HttpConnection::KeepBody(char* text, size_t size, size_t count, void* self)
{
    std::string& body = static_cast<HttpConnection*>(self)->m_body;
    body.append(text, std::min(size * count, kBodyLimit - std::min(kBodyLimit, body.size())));
    return size * count;
}

size_t HttpConnection::KeepEtag(char* text, size_t size, size_t count, void* self)
{
    const std::string line(text, size * count);
    if (line.size() > 5 && strncasecmp(line.c_str(), "etag:", 5) == 0) {
        std::string& etag = static_cast<HttpConnection*>(self)->m_etag;
        etag = line.substr(5);
        const char* noise = " \t\r\n\"";
        etag.erase(0, etag.find_first_not_of(noise));
        etag.erase(etag.find_last_not_of(noise) + 1);
    }
    return size * count;
}
