// How FTP and SFTP word the commands of ours sent around a transfer.
#pragma once

#include <string>
#include <vector>

class Dialect
{
public:
    explicit Dialect(bool sftp) : m_sftp(sftp) {}
    bool Sftp() const { return m_sftp; }

    std::string Delete(const std::string& name) const;
    std::string MakeFolder(const std::string& path) const;
    std::vector<std::string> Rename(const std::string& from, const std::string& to) const;
    // FTP asks the size in the upload's own request; empty: asked apart.
    std::string SizeQuery(const std::string& name) const;
    // A command as libcurl's command list takes it. libcurl drops the whole
    // FTP connection when a command is refused, so a refusal (an old picture
    // not there to move aside) would cost a new login: refusals are let
    // through ("*") and read from the replies instead.
    std::string Listed(const std::string& command) const;

private:
    bool m_sftp;
};
