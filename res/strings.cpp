#include "strings.h"

namespace
{
struct Entry {
    int code;
    const char* text;
};

const Entry kMessages[] = {
    {601, "Bad handle, could not read bitmap."},
    {602, "Unsupported bitmap format (not 8, 16 or 24 bit)."},
    {603, "Could not open file for writing."},
    {699, "JPEGlib conversion error."},
    {10054, "Connection dropped (FTP error)"},
    {12002, "Request timeout (FTP error)"},
    {12003, "Invalid path (FTP error)"},
    {12007, "Can't resolve name (DNS error)"},
    {12014, "Invalid username/password (FTP error)"},
    {12029, "Can't make connection (FTP error)"},
    {12031, "Session reset (FTP error)"},
    {12111, "Session refused (FTP error)"},
    {12045, "Server certificate not trusted"},
    {12201, "Server host key unknown"},
    {12202, "Upload arrived incomplete"},
    {12203, "Server name, username or password too long"},
    {12204, "Private key file missing or unreadable"},
    {12205, "Server requires TLS"},
    {12206, "Not supported"},
};
} // namespace

bool LookupMessageString(int code, QString* text)
{
    for (const Entry& e : kMessages) {
        if (e.code == code) {
            if (text)
                *text = QString::fromLatin1(e.text);
            return true;
        }
    }
    return false;
}
