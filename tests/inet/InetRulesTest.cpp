// The layer's rules that need no server.
#include "platform/inet/inetrules.h"
#include "platform/inet/wininet.h"

#include <cerrno>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <map>

namespace
{

ServerAddress Parsed(const std::string& text, unsigned port = 0)
{
    ServerAddress address;
    EXPECT_TRUE(ParseServer(text, port, &address)) << text;
    return address;
}

EnvironmentReader Env(std::map<std::string, std::string> values)
{
    return [values](const char* name) {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    };
}

} // namespace

TEST(InetRules, ServerNamesAndPorts)
{
    EXPECT_EQ(Parsed("ftp.example.com").port, 21u);
    EXPECT_EQ(Parsed("ftp.example.com:2121").port, 2121u);
    EXPECT_EQ(Parsed("ftp.example.com:2121").host, "ftp.example.com");
    EXPECT_EQ(Parsed("ftp.example.com:2121", 990).port, 990u) << "explicit port wins";
    EXPECT_EQ(Parsed("ftp.example.com", 990).port, 990u);

    ServerAddress v6 = Parsed("[::1]:2121");
    EXPECT_TRUE(v6.ipv6);
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, 2121u);
    EXPECT_EQ(ServerUrl(v6), "ftp://[::1]:2121/");
    EXPECT_EQ(Parsed("fe80::1").port, 21u) << "a bare IPv6 address has no port";
    EXPECT_EQ(ServerUrl(Parsed("host:21")), "ftp://host:21/");

    ServerAddress unused;
    for (const char* bad : {"", ":21", "host:", "host:0", "host:65536", "host:21x", "host name",
                            "user@host", "host/path", "[::1", "[::1]x", "[::1]:", "a:b:zz"})
        EXPECT_FALSE(ParseServer(bad, 0, &unused)) << bad;
}

TEST(InetRules, RemoteNamesCannotChangeTheUrlOrCommand)
{
    EXPECT_EQ(EscapePath("pub/cam.jpg"), "pub/cam.jpg");
    EXPECT_EQ(EscapePath("/abs/a b.jpg"), "/abs/a%20b.jpg");
    EXPECT_EQ(EscapePath("x;type=a#1?%.jpg"), "x%3Btype%3Da%231%3F%25.jpg");
    EXPECT_FALSE(IsUsableRemoteName("cam.jpg\r\nDELE index.html"));
    EXPECT_FALSE(IsUsableRemoteName("cam.jpg\n"));
    EXPECT_FALSE(IsUsableRemoteName(""));
    EXPECT_FALSE(IsUsableRemoteName(nullptr));
    EXPECT_TRUE(IsUsableRemoteName("dir/cam 1.jpg"));
}

TEST(InetRules, ProxyListFromEnvironment)
{
    EXPECT_EQ(ProxyFromEnvironment(Env({})).list, "");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"all_proxy", "http://proxy:3128/"}})).list, "proxy:3128");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"ALL_PROXY", "socks5h://u:p@proxy:1080"}})).list,
              "proxy:1080");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"ftp_proxy", "http://f:21"}})).list, "ftp=f:21");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"http_proxy", "h:80"}})).list, "http=h:80");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"ftp_proxy", "f:1"}, {"http_proxy", "h:2"}})).list,
              "ftp=f:1 http=h:2");
    // all_proxy covers whichever protocol has no entry of its own.
    EXPECT_EQ(ProxyFromEnvironment(Env({{"all_proxy", "a:9"}, {"http_proxy", "h:2"}})).list,
              "ftp=a:9 http=h:2");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"http_proxy", "h:2"}, {"FTP_PROXY", "F:3"}})).list,
              "ftp=F:3 http=h:2");
    EXPECT_EQ(ProxyFromEnvironment(Env({{"no_proxy", "localhost,.lan"}})).bypass, "localhost;.lan");
}

TEST(InetRules, ErrorMapping)
{
    EXPECT_EQ(MapCurlError(CURLE_COULDNT_RESOLVE_HOST, 0, 0, ""), 12007u);
    EXPECT_EQ(MapCurlError(CURLE_LOGIN_DENIED, 530, 0, ""), 12014u)
        << "a refused login is not a path error";
    EXPECT_EQ(MapCurlError(CURLE_RECV_ERROR, 0, ECONNRESET, ""), 12031u);
    EXPECT_EQ(MapCurlError(CURLE_SEND_ERROR, 0, 0, "Send failure: Broken pipe"), 12031u);
    EXPECT_EQ(MapCurlError(CURLE_RECV_ERROR, 0, 0, "Recv failure"), 12111u);
    EXPECT_EQ(MapCurlError(CURLE_QUOTE_ERROR, 550, 0, ""), 12003u);
    EXPECT_EQ(MapCurlError(CURLE_WEIRD_SERVER_REPLY, 451, 0, ""), 12003u)
        << "any error reply means the server refused";
    EXPECT_EQ(MapCurlError(CURLE_WEIRD_SERVER_REPLY, 0, 0, ""), 12111u);
    EXPECT_EQ(MapCurlError(CURLE_OUT_OF_MEMORY, 0, 0, ""), 12004u);
}

TEST(InetRules, TimeoutFromEnvironment)
{
    EXPECT_EQ(TimeoutSeconds(Env({})), 30);
    EXPECT_EQ(TimeoutSeconds(Env({{VIZO_INET_TIMEOUT_ENV, "2"}})), 2);
    EXPECT_EQ(TimeoutSeconds(Env({{VIZO_INET_TIMEOUT_ENV, "0"}})), 30);
    EXPECT_EQ(TimeoutSeconds(Env({{VIZO_INET_TIMEOUT_ENV, "2x"}})), 30);
    EXPECT_EQ(TimeoutSeconds(Env({{VIZO_INET_TIMEOUT_ENV, "99999"}})), 600);
}

TEST(InetRules, FolderLevelsOfARemoteName)
{
    using Levels = std::vector<std::string>;
    EXPECT_EQ(FolderLevels("vizo.jpg"), Levels());
    EXPECT_EQ(FolderLevels("cams/door/vizo.jpg"), Levels({"cams", "cams/door"}));
    EXPECT_EQ(FolderLevels("/srv/cams/vizo.jpg"), Levels({"/srv", "/srv/cams"}));
    EXPECT_EQ(FolderLevels("./a//b/vizo.jpg"), Levels({"./a", "./a//b"}));
}

TEST(InetRules, AFolderThatExistsIsNoReasonToGive)
{
    EXPECT_TRUE(RefusalSaysExists("550 File exists."));
    EXPECT_TRUE(RefusalSaysExists("521 \"timelapse\" directory already exists"));
    EXPECT_TRUE(RefusalSaysExists("mkdir command failed: File already exists"));
    EXPECT_FALSE(RefusalSaysExists("550 Not a directory."));
    EXPECT_FALSE(RefusalSaysExists("550 Permission denied."));
    EXPECT_FALSE(RefusalSaysExists("550 No such file or directory: parent does not exist"));
    EXPECT_FALSE(RefusalSaysExists(""));
}

TEST(InetRules, RepliesToSizeAndFinalLines)
{
    EXPECT_EQ(SizeInReply("213 150000\r\n"), 150000);
    EXPECT_EQ(SizeInReply("213 0"), 0);
    EXPECT_EQ(SizeInReply("550 No such file.\r\n"), 0) << "the temporary is gone";
    for (const char* unknown : {"500 Unknown command.", "213 ", "213 -5", "213 x", "", "2"})
        EXPECT_EQ(SizeInReply(unknown), -1) << unknown;

    EXPECT_EQ(FinalReplyCode("226 Transfer complete.\r\n"), 226);
    EXPECT_EQ(FinalReplyCode("550 Refused"), 550);
    for (const char* other :
         {"226-More to come", "Content-Length: 5", "611 Nope", "2x6 Odd", "226"})
        EXPECT_EQ(FinalReplyCode(other), 0) << other;
}

TEST(InetRules, SftpArgumentsKeepBlanksAndQuotes)
{
    EXPECT_EQ(SftpQuoted("cam.jpg"), "\"cam.jpg\"");
    EXPECT_EQ(SftpQuoted("my \"cam\"\\1.jpg"), "\"my \\\"cam\\\"\\\\1.jpg\"");
}
