// The secure transports of one connection: TLS and SSH options, the check of
// the server's key, and the wording of their failures.
#pragma once

#include "wininet.h"

#include <curl/curl.h>
#include <string>

struct TransportOptions {
    DWORD protocol = VIZO_PROTOCOL_FTP;
    std::string serverKey;  // TLS pin or SSH host-key fingerprint; empty: the usual checks
    std::string privateKey; // SFTP only
    std::string home;       // where ~/.ssh/known_hosts is looked up
    std::string region;     // S3
    std::string formField;  // HTTP POST
    bool passive = true;
};

// "SHA256:" and the unpadded base64 of the key's SHA-256, as ssh-keygen -l prints it.
std::string HostKeyFingerprint(const unsigned char* key, size_t length);
// Whether a fingerprint typed by the user (with or without "SHA256:", padding
// or surrounding blanks) names this one.
bool SameFingerprint(const std::string& typed, const std::string& fingerprint);

class Transport
{
public:
    explicit Transport(TransportOptions options) : m_options(std::move(options)) {}

    // Sets the easy handle up; 0, or a failure code with *reason.
    DWORD Configure(CURL* easy, std::string* reason);
    bool IsHttp() const { return m_options.protocol >= VIZO_PROTOCOL_WEBDAV; }
    bool IsSftp() const { return m_options.protocol == VIZO_PROTOCOL_SFTP; }
    DWORD Protocol() const { return m_options.protocol; }
    const std::string& FormField() const { return m_options.formField; }

    // A failed call's code (from MapCurlError), refined for trust failures,
    // with the reason worded when the reason table's text would not say it.
    DWORD Explain(DWORD code, CURLcode result, const char* errorText, const std::string& lastReply,
                  std::string* reason) const;

private:
    DWORD ConfigureTls(CURL* easy, std::string* reason);
    static int CheckHostKey(void* self, int type, const char* key, size_t length);
    static int CheckKnownHost(CURL*, const curl_khkey* known, const curl_khkey* found,
                              curl_khmatch match, void* self);

    enum class KeyVerdict { None, Unknown, Changed, NotPinned };
    TransportOptions m_options;
    std::string m_seen; // the server's host-key fingerprint, once shown
    KeyVerdict m_verdict = KeyVerdict::None;
};
