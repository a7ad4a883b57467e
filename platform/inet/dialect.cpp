#include "dialect.h"

#include "inetrules.h"

std::string Dialect::Delete(const std::string& name) const
{
    return m_sftp ? "rm " + SftpQuoted(name) : "DELE " + name;
}

std::string Dialect::MakeFolder(const std::string& path) const
{
    return m_sftp ? "mkdir " + SftpQuoted(path) : "MKD " + path;
}

std::vector<std::string> Dialect::Rename(const std::string& from, const std::string& to) const
{
    if (m_sftp)
        return {"rename " + SftpQuoted(from) + " " + SftpQuoted(to)};
    return {"RNFR " + from, "RNTO " + to};
}

std::string Dialect::SizeQuery(const std::string& name) const
{
    // "*": a server without SIZE must not fail the upload.
    return m_sftp ? std::string() : "*SIZE " + name;
}

std::string Dialect::Listed(const std::string& command) const
{
    return m_sftp ? command : "*" + command;
}
