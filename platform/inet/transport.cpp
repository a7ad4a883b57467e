#include "transport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{

std::string Trimmed(std::string text)
{
    const char* blanks = " \t\r\n";
    text.erase(0, text.find_first_not_of(blanks));
    text.erase(text.find_last_not_of(blanks) + 1);
    return text;
}

std::string Normalised(std::string text)
{
    text = Trimmed(text);
    if (text.size() >= 7 && strncasecmp(text.c_str(), "SHA256:", 7) == 0)
        text.erase(0, 7);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    return text;
}

bool Readable(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    // A folder opens but does not read.
    char byte;
    bool ok = std::fread(&byte, 1, 1, file) == 1;
    std::fclose(file);
    return ok;
}

// libcurl 7.87 and 7.88 send an active-mode TLS upload's data unencrypted
// (the server then refuses it), fixed in 8.0.
bool ActiveTlsBroken()
{
    unsigned version = curl_version_info(CURLVERSION_NOW)->version_num;
    return version >= 0x075700 && version < 0x080000;
}

bool Mentions(const std::string& text, const char* word)
{
    return text.find(word) != std::string::npos;
}

} // namespace

std::string HostKeyFingerprint(const unsigned char* key, size_t length)
{
    QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(reinterpret_cast<const char*>(key), qsizetype(length)),
        QCryptographicHash::Sha256);
    return "SHA256:" + digest.toBase64(QByteArray::OmitTrailingEquals).toStdString();
}

bool SameFingerprint(const std::string& typed, const std::string& fingerprint)
{
    std::string a = Normalised(typed);
    return !a.empty() && a == Normalised(fingerprint);
}

DWORD Transport::Configure(CURL* easy, std::string* reason)
{
    const std::string& key = m_options.serverKey;
    switch (m_options.protocol) {
    case VIZO_PROTOCOL_FTP:
        return 0;
    case VIZO_PROTOCOL_FTP_EXPLICIT_TLS:
    case VIZO_PROTOCOL_FTPS_IMPLICIT:
        if (!m_options.passive && ActiveTlsBroken()) {
            *reason = std::string("Active mode over TLS does not work with libcurl ") +
                      curl_version_info(CURLVERSION_NOW)->version + "; choose Passive";
            return ERROR_VIZO_UNSUPPORTED;
        }
        curl_easy_setopt(easy, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        curl_easy_setopt(easy, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        return ConfigureTls(easy, reason);
    case VIZO_PROTOCOL_WEBDAV:
    case VIZO_PROTOCOL_S3:
    case VIZO_PROTOCOL_HTTP_POST:
        // Plain http:// URLs never reach these settings.
        return ConfigureTls(easy, reason);
    case VIZO_PROTOCOL_SFTP:
        break;
    default:
        *reason = "Unknown protocol " + std::to_string(m_options.protocol);
        return ERROR_INVALID_PARAMETER;
    }
    long auth = CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD;
    if (!m_options.privateKey.empty()) {
        if (!Readable(m_options.privateKey)) {
            *reason = "Private key file missing or unreadable (" + m_options.privateKey + ")";
            return ERROR_VIZO_PRIVATE_KEY;
        }
        curl_easy_setopt(easy, CURLOPT_SSH_PRIVATE_KEYFILE, m_options.privateKey.c_str());
        auth |= CURLSSH_AUTH_PUBLICKEY;
    }
    curl_easy_setopt(easy, CURLOPT_SSH_AUTH_TYPES, auth);
    if (!key.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSH_HOSTKEYFUNCTION, &Transport::CheckHostKey);
        curl_easy_setopt(easy, CURLOPT_SSH_HOSTKEYDATA, this);
    } else {
        std::string knownHosts = m_options.home + "/.ssh/known_hosts";
        curl_easy_setopt(easy, CURLOPT_SSH_KNOWNHOSTS, knownHosts.c_str());
        curl_easy_setopt(easy, CURLOPT_SSH_KEYFUNCTION, &Transport::CheckKnownHost);
        curl_easy_setopt(easy, CURLOPT_SSH_KEYDATA, this);
    }
    return 0;
}

DWORD Transport::ConfigureTls(CURL* easy, std::string*)
{
    const std::string& key = m_options.serverKey;
    if (const char* bundle = std::getenv("VIZO_INET_CA_FILE"); bundle && *bundle)
        curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
    if (!key.empty()) {
        // The user vouched for this very key: it replaces the chain and name
        // checks, so a self-signed server can be trusted without a CA.
        curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, Trimmed(key).c_str());
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    return 0;
}

int Transport::CheckHostKey(void* self, int, const char* key, size_t length)
{
    auto* t = static_cast<Transport*>(self);
    t->m_seen = HostKeyFingerprint(reinterpret_cast<const unsigned char*>(key), length);
    if (SameFingerprint(t->m_options.serverKey, t->m_seen))
        return CURLKHMATCH_OK;
    t->m_verdict = KeyVerdict::NotPinned;
    return CURLKHMATCH_MISMATCH;
}

int Transport::CheckKnownHost(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match,
                              void* self)
{
    auto* t = static_cast<Transport*>(self);
    QByteArray raw = found->len == 0 ? QByteArray::fromBase64(found->key)
                                     : QByteArray(found->key, qsizetype(found->len));
    t->m_seen =
        HostKeyFingerprint(reinterpret_cast<const unsigned char*>(raw.constData()), raw.size());
    if (match == CURLKHMATCH_OK)
        return CURLKHSTAT_FINE;
    t->m_verdict = match == CURLKHMATCH_MISMATCH ? KeyVerdict::Changed : KeyVerdict::Unknown;
    return CURLKHSTAT_REJECT;
}

DWORD Transport::Explain(DWORD code, CURLcode result, const char* errorText,
                         const std::string& lastReply, std::string* reason) const
{
    std::string detail = errorText && *errorText ? errorText : curl_easy_strerror(result);
    if (IsSftp() && m_verdict != KeyVerdict::None) {
        const char* why = m_verdict == KeyVerdict::Unknown   ? "not in known_hosts"
                          : m_verdict == KeyVerdict::Changed ? "differs from the key in known_hosts"
                                                             : "does not match the Server key";
        *reason = "Server host key unknown: " + m_seen + " (" + why + ")";
        return ERROR_VIZO_HOST_KEY;
    }
    if (code == ERROR_INTERNET_INVALID_CA && !IsSftp()) {
        *reason = "Server certificate not trusted (" + detail + ")";
        return code;
    }
    // A server that insists on TLS says so in its refusal of the login.
    bool refused =
        code == ERROR_INTERNET_INCORRECT_PASSWORD || code == ERROR_INTERNET_EXTENDED_ERROR;
    if (refused && m_options.protocol == VIZO_PROTOCOL_FTP &&
        (Mentions(lastReply, "TLS") || Mentions(lastReply, "SSL"))) {
        *reason = "Server requires TLS (" + Trimmed(lastReply) + ")";
        return ERROR_VIZO_TLS_REQUIRED;
    }
    return code;
}
