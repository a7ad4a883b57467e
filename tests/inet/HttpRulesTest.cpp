// The Server URL of an HTTP destination and the names below it.
#include "platform/inet/httprules.h"

#include <gtest/gtest.h>

TEST(HttpRules, ServerUrlsAndTheNamesBelowThem)
{
    struct Case {
        const char* server;
        const char* name;
        const char* url; // empty: the server is refused
    } cases[] = {
        {"https://dav.example/remote.php/dav/", "cams/a b.jpg",
         "https://dav.example:443/remote.php/dav/cams/a%20b.jpg"},
        {"http://127.0.0.1:8080/dav", "/x.jpg", "http://127.0.0.1:8080/dav/x.jpg"},
        {"HTTP://[::1]:9000/bucket", "k#1?.jpg", "http://[::1]:9000/bucket/k%231%3F.jpg"},
        {"https://host/upload.php", "", "https://host:443/upload.php"}, // a form's URL as typed
        {"http://host", "x.jpg", "http://host:80/x.jpg"},
        {"ftp://host/dav", "x", ""},
        {"https://user:pw@host/dav", "x", ""},
        {"https://host/dav?x=1", "x", ""},
        {"https://host/a b", "x", ""},
        {"https://host/a/../b", "x", ""},
        {"https://", "x", ""},
        {"https://host:99999/", "x", ""},
    };
    for (const Case& c : cases) {
        HttpServer server;
        const bool ok = ParseHttpServer(c.server, &server);
        EXPECT_EQ(ok, *c.url != '\0') << c.server;
        if (ok) {
            EXPECT_EQ(HttpUrl(server, c.name), c.url) << c.server;
        }
    }
}

TEST(HttpRules, RefusalsAreWordedFromTheStatusAndTheStoresCode)
{
    EXPECT_EQ(HttpStatusText(507), "HTTP 507 Insufficient Storage");
    EXPECT_EQ(HttpStatusText(299), "HTTP 299");
    EXPECT_EQ(HttpStatusText(403, "<Error><Code>SignatureDoesNotMatch</Code></Error>"),
              "HTTP 403 Forbidden (SignatureDoesNotMatch)");
    // The body is the server's: only a plain word of it reaches the log.
    EXPECT_EQ(HttpStatusText(403, "<Code>a\nb</Code>"), "HTTP 403 Forbidden");
    EXPECT_EQ(HttpStatusText(404, "<html>Not here</html>"), "HTTP 404 Not Found");
}
