// Form uploads to a receiver of Python's standard library: the file under the
// remote name in the named field, basic or bearer authentication, and only a
// 2xx reply taken as success.
#include "HttpApi.h"
#include "PostTestServer.h"
#include "platform/win/lasterror.h"

#include <QJsonArray>

namespace
{

class PostTest : public HttpDestinationTest
{
protected:
    PostTestServer receiver;
    const QByteArray picture = RandomBytes(120000, 9);
};

} // namespace

TEST_F(PostTest, PostsTheFileUnderTheRemoteNameWithBasicAuthentication)
{
    ASSERT_TRUE(receiver.Start("Basic " + QByteArray("cam:pw").toBase64()))
        << receiver.ErrorText().toStdString();
    HINTERNET session = Connect(VIZO_PROTOCOL_HTTP_POST, receiver.Url(), "cam", "pw", "", "image");
    ASSERT_NE(session, nullptr) << FailureText().toStdString();
    const QByteArray path = LocalFile("local name.jpg", picture).toUtf8();
    ASSERT_TRUE(inet.Put(session, path, "door/vizo.jpg", FTP_TRANSFER_TYPE_BINARY, 0))
        << FailureText().toStdString();
    EXPECT_EQ(receiver.ReadFile("door/vizo.jpg"), picture);
    ASSERT_EQ(receiver.Requests().size(), 1);
    const QJsonObject request = receiver.Requests().first();
    EXPECT_EQ(request.value("fields").toArray(),
              QJsonArray({QJsonArray({"image", "door/vizo.jpg"})}));
    EXPECT_EQ(request.value("cache").toString(), "no-cache");

    SetLastError(0);
    EXPECT_FALSE(inet.Rename(session, "door/vizo.jpg", "x.jpg"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_UNSUPPORTED));
    inet.Close(session);
}

TEST_F(PostTest, EmptyUserSendsThePasswordAsBearerToken)
{
    ASSERT_TRUE(receiver.Start("Bearer tok3n")) << receiver.ErrorText().toStdString();
    HINTERNET session = Connect(VIZO_PROTOCOL_HTTP_POST, receiver.Url(), "", "tok3n");
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(inet.Put(session, LocalFile("a.jpg", picture).toUtf8(), "vizo.jpg",
                         FTP_TRANSFER_TYPE_BINARY, 0))
        << FailureText().toStdString();
    EXPECT_EQ(receiver.ReadFile("vizo.jpg"), picture);
    EXPECT_EQ(receiver.Requests().first().value("fields").toArray().first().toArray().first(),
              "file")
        << "the default field";
    inet.Close(session);
}

TEST_F(PostTest, OnlyA2xxReplyIsSuccess)
{
    ASSERT_TRUE(receiver.Start("Bearer right")) << receiver.ErrorText().toStdString();
    const QByteArray path = LocalFile("a.jpg", picture).toUtf8();
    struct Case {
        QString url, token, reason;
    } cases[] = {{receiver.Url(), "wrong", "HTTP 401 Unauthorized"},
                 {receiver.Url("/upload/500"), "right", "HTTP 500 Internal Server Error"}};
    for (const Case& c : cases) {
        HINTERNET session = Connect(VIZO_PROTOCOL_HTTP_POST, c.url, "", c.token);
        ASSERT_NE(session, nullptr);
        SetLastError(0);
        EXPECT_FALSE(inet.Put(session, path, "vizo.jpg", FTP_TRANSFER_TYPE_BINARY, 0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_VIZO_HTTP_STATUS));
        EXPECT_EQ(FailureText().toStdString(), c.reason.toStdString());
        inet.Close(session);
    }
    EXPECT_TRUE(receiver.Requests().isEmpty());
}
