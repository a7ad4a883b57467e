// The local file an upload reads, with the line-end rule of ASCII transfers.
#pragma once

#include "wintypes.h"

#include <algorithm>
#include <cstdio>
#include <curl/curl.h>

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

// 0 and the open file, or the platform code for a missing or unreadable one.
DWORD OpenLocalFile(const char* path, std::FILE** file);
