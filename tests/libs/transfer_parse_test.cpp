// URL splitting, percent-encoding and the parsers of peer replies.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/errcodes.h"
#include "libs/transferurl.h"

namespace {

TEST(TransferUrl, PercentEncodingInBothModes) {
    std::string out;
    ASSERT_EQ(PercentEncodeUrl("http://h/a b+c", false, &out), 0);
    EXPECT_EQ(out, "http://h/a%20b%2bc");
    ASSERT_EQ(PercentEncodeUrl("http://h/%41%20%7e", true, &out), 0);
    EXPECT_EQ(out, "http://h/A%20%7e");
    EXPECT_EQ(PercentEncodeUrl("http://h/%zz", true, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(PercentEncodeUrl("http://h/100%", true, &out), ERR_WRONGUSAGE);
    EXPECT_EQ(PercentDecode("/my%20file%2"), "/my file%2");
}

TEST(TransferUrl, SplitsSchemeCredentialsPortAndPath) {
    TransferUrl u;
    ASSERT_EQ(ParseTransferUrl("HtTp://u:p@127.0.0.1:8080", &u), 0);
    EXPECT_EQ(u.scheme, TransferScheme::kHttp);
    EXPECT_TRUE(u.hasCredentials);
    EXPECT_EQ(u.user, "u");
    EXPECT_EQ(u.password, "p");
    EXPECT_EQ(u.host, "127.0.0.1");
    EXPECT_EQ(u.port, 8080);
    EXPECT_EQ(u.path, "/");
    // The last at sign ends the credentials.
    ASSERT_EQ(ParseTransferUrl("ftp://me:a@b@host/dir/f.txt;type=A", &u), 0);
    EXPECT_EQ(u.password, "a@b");
    EXPECT_EQ(u.port, 21);
    EXPECT_EQ(u.path, "/dir/f.txt");
    EXPECT_EQ(u.ftpType, 'a');
}

TEST(TransferUrl, RefusesBadUrls) {
    TransferUrl u;
    EXPECT_EQ(ParseTransferUrl("https://h/", &u), ERR_UNKPROTOCOL);
    EXPECT_EQ(ParseTransferUrl("gopher://h/", &u), ERR_UNKPROTOCOL);
    for (const std::string& bad : std::vector<std::string>{
             "http://user@h/", "http://u:@h/", "http://:p@h/", "http://h:/", "http://h:x/", "http://h:0/",
             "http://h:99999/", "http://h:80x/", "http:///path", "ftp://h/f;type=x", "http://h/a\r\nX-Injected: 1",
             std::string("http://h\0/", 9), "http://" + std::string(300, 'u') + ":p@h/"})
        EXPECT_EQ(ParseTransferUrl(bad, &u), ERR_BADURL) << bad;
}

// Both sides of every boundary of the URL's parts, for each scheme.
TEST(TransferUrl, EveryPartOnBothSidesOfItsBounds) {
    TransferUrl u;
    struct Port {
        const char* url;
        int port;  // 0: refused as a bad URL
    };
    for (const Port& c : std::vector<Port>{{"http://h:1/", 1},
                                           {"ftp://h:1", 1},
                                           {"http://h:65535/", 65535},
                                           {"FTP://h:65535/", 65535},
                                           {"http://h:00080/", 80},
                                           {"http://h/", 80},
                                           {"fTp://h/", 21},
                                           {"http://u:p@h:2/", 2},
                                           {"http://h:0/", 0},
                                           {"ftp://h:0", 0},
                                           {"http://h:65536/", 0},
                                           {"ftp://h:65536/", 0},
                                           {"http://h:18446744073709551617/", 0},
                                           {"http://h:+80/", 0},
                                           {"http://h:-1/", 0},
                                           {"http://h: 80/", 0},
                                           {"http://h:8 0/", 0}}) {
        const int err = ParseTransferUrl(c.url, &u);
        if (c.port) {
            ASSERT_EQ(err, 0) << c.url;
            EXPECT_EQ(u.port, c.port) << c.url;
            EXPECT_EQ(u.host, "h") << c.url;
        } else {
            EXPECT_EQ(err, ERR_BADURL) << c.url;
        }
    }
    for (const char* url : {"", "http:/", "http:/h/", "htt://h/", "ftps://h/", "file:///f", " http://h/", "h:80"})
        EXPECT_EQ(ParseTransferUrl(url, &u), ERR_UNKPROTOCOL) << url;
    for (const char* url : {"http://", "ftp://", "http://:80/", "http://u:p@/", "http://u:p@:80/"})
        EXPECT_EQ(ParseTransferUrl(url, &u), ERR_BADURL) << url;

    // Credentials: one byte of each is enough, 255 the most.
    ASSERT_EQ(ParseTransferUrl("ftp://a:b@h", &u), 0);
    EXPECT_EQ(u.user, "a");
    EXPECT_EQ(u.password, "b");
    EXPECT_EQ(u.path, "/");
    const std::string longest(255, 'c');
    ASSERT_EQ(ParseTransferUrl("http://" + longest + ":" + longest + "@h/", &u), 0);
    EXPECT_EQ(u.user, longest);
    EXPECT_EQ(u.password, longest);
    EXPECT_EQ(ParseTransferUrl("http://" + longest + "c:p@h/", &u), ERR_BADURL);
    EXPECT_EQ(ParseTransferUrl("http://u:" + longest + "c@h/", &u), ERR_BADURL);
    // A colon after the at sign is the port's, not the password's.
    EXPECT_EQ(ParseTransferUrl("http://u@h:80/", &u), ERR_BADURL);
    ASSERT_EQ(ParseTransferUrl("http://h/", &u), 0);
    EXPECT_FALSE(u.hasCredentials);

    // The FTP type: the shortest path that holds one, either letter in
    // either case; only FTP reads it.
    for (const auto& [url, type, path] : std::vector<std::tuple<std::string, char, std::string>>{
             {"ftp://h/;type=i", 'i', "/"},
             {"ftp://h/f;TYPE=I", 'i', "/f"},
             {"ftp://h/f;type=a", 'a', "/f"},
             {"ftp://h/;type=", 0, "/;type="},
             {"ftp://h/f;type=ii", 0, "/f;type=ii"},
             {"http://h/f;type=a", 0, "/f;type=a"},
             {"http://h/f;type=x", 0, "/f;type=x"}}) {
        ASSERT_EQ(ParseTransferUrl(url, &u), 0) << url;
        EXPECT_EQ(u.ftpType, type) << url;
        EXPECT_EQ(u.path, path) << url;
    }
    // Control bytes in each part.
    for (const std::string& bad : {std::string("http://u\r:p@h/"), std::string("http://u:p\n@h/"),
                                   std::string("http://h\r/"), std::string("ftp://h/f\n")})
        EXPECT_EQ(ParseTransferUrl(bad, &u), ERR_BADURL) << bad;
}

TEST(TransferUrl, ResolvesRelativeLocations) {
    EXPECT_EQ(ResolveLocation("http://h:81/a/b.html?q=/x", "/new"), "http://h:81/new");
    EXPECT_EQ(ResolveLocation("http://h:81/a/b.html?q=/x", "next.html"), "http://h:81/a/next.html");
    EXPECT_EQ(ResolveLocation("http://h:81", "next.html"), "http://h:81/next.html");
    EXPECT_EQ(ResolveLocation("http://h/a", "HTTP://other/x"), "HTTP://other/x");
    EXPECT_EQ(ResolveLocation("http://h/a", "//other/x"), "http://other/x");
}

TEST(TransferReplies, StatusLines) {
    int status = 0;
    long detail = 0;
    ASSERT_EQ(ParseStatusLine("HTTP/1.1 404 Not Found", &status, &detail), 0);
    EXPECT_EQ(status, 404);
    EXPECT_EQ(ParseStatusLine("HTTQ/1.1 200 OK", &status, &detail), ERR_HTTPERROR);
    EXPECT_EQ(detail, 1001);
    EXPECT_EQ(ParseStatusLine("HTTP/x 200", &status, &detail), ERR_HTTPERROR);
    EXPECT_EQ(detail, 1002);
    EXPECT_EQ(ParseStatusLine("HTTP/1.1200", &status, &detail), ERR_HTTPERROR);
    EXPECT_EQ(detail, 1003);
    // Each bound on both sides: the prefix whole and in capitals, a version
    // that starts with a digit, one blank after it, at most nine digits of
    // code.
    struct Line {
        const char* text;
        int error;
        long detail;  // when refused
        int status;   // when read
    };
    for (const Line& c : std::vector<Line>{{"HTTP", ERR_HTTPERROR, 1001, 0},
                                           {"http/1.1 200 OK", ERR_HTTPERROR, 1001, 0},
                                           {" HTTP/1.1 200 OK", ERR_HTTPERROR, 1001, 0},
                                           {"HTTP/", ERR_HTTPERROR, 1002, 0},
                                           {"HTTP/ 200 OK", ERR_HTTPERROR, 1002, 0},
                                           {"HTTP/.1 200 OK", ERR_HTTPERROR, 1002, 0},
                                           {"HTTP/1", ERR_HTTPERROR, 1003, 0},
                                           {"HTTP/1.1\t200", ERR_HTTPERROR, 1003, 0},
                                           {"HTTP/1 204", 0, 0, 204},
                                           {"HTTP/2. 301 Moved", 0, 0, 301},
                                           {"HTTP/1.0 ", 0, 0, 0},
                                           {"HTTP/1.0 OK", 0, 0, 0},
                                           {"HTTP/1.0 1234567890", 0, 0, 123456789},
                                           {"HTTP/1.0 0200 OK", 0, 0, 200}}) {
        detail = 0;
        status = -1;
        EXPECT_EQ(ParseStatusLine(c.text, &status, &detail), c.error) << c.text;
        if (c.error) {
            EXPECT_EQ(detail, c.detail) << c.text;
            EXPECT_EQ(status, 0) << c.text;
        } else {
            EXPECT_EQ(status, c.status) << c.text;
        }
    }
}

TEST(TransferReplies, HeaderSizesAreChecked) {
    HttpHeaders h;
    long detail = 0;
    ASSERT_EQ(ParseHeaderLine("CONTENT-LENGTH:   1000000000000", &h, &detail), 0);
    EXPECT_TRUE(h.hasLength);
    EXPECT_EQ(h.length, 1000000000000u);
    for (const char* bad : {"Content-Length: -5", "Content-Length: abc", "Content-Length: 99999999999999999999",
                            "Content-Length: 12 34", "Content-Length:"})
        EXPECT_EQ(ParseHeaderLine(bad, &h, &detail), ERR_HTTPERROR) << bad;
    EXPECT_EQ(ParseHeaderLine("Transfer-Encoding: gzip", &h, &detail), ERR_HTTPTE);
    ASSERT_EQ(ParseHeaderLine("transfer-encoding: Chunked", &h, &detail), 0);
    EXPECT_TRUE(h.chunked);
    ASSERT_EQ(ParseHeaderLine("Location:  /next", &h, &detail), 0);
    EXPECT_EQ(h.location, "/next");

    uint64_t size = 0;
    ASSERT_TRUE(ParseChunkSize("1a;ext=1", &size));
    EXPECT_EQ(size, 26u);
    ASSERT_TRUE(ParseChunkSize("FFFFFFFFFFFFFFFF", &size));
    EXPECT_EQ(size, UINT64_MAX);
    EXPECT_FALSE(ParseChunkSize("10000000000000000", &size));
    EXPECT_FALSE(ParseChunkSize("ZZ", &size));
    EXPECT_FALSE(ParseChunkSize("", &size));
}

TEST(TransferReplies, FtpReplies) {
    EXPECT_EQ(FtpReplyCode("220-Welcome"), 220);
    EXPECT_EQ(FtpReplyCode("hello"), -1);
    EXPECT_TRUE(FtpReplyContinues("220-Welcome"));
    EXPECT_FALSE(FtpReplyContinues("220 Ready"));
    // A short line must not look at a byte beyond it.
    EXPECT_FALSE(FtpReplyContinues("22"));

    int port = 0;
    ASSERT_TRUE(ParsePasvReply("227 Entering Passive Mode (127,0,0,2,4,1).", &port));
    EXPECT_EQ(port, 1025);
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (127,0,0,1,4)", &port));
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (127,0,0,1,4,1,7)", &port));
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (127,0,0,1,256,1)", &port));
    EXPECT_FALSE(ParsePasvReply("227 Entering Passive Mode (127,0,0,1,0,0)", &port));
    EXPECT_FALSE(ParsePasvReply("227", &port));

    EXPECT_EQ(ParseFtpSize("150 Opening BINARY mode data connection for f (1234 bytes)."), 1234u);
    EXPECT_EQ(ParseFtpSize("150 Opening data connection (1234 BYTES)"), 1234u);
    EXPECT_EQ(ParseFtpSize("150 Opening data connection."), 0u);
    EXPECT_EQ(ParseFtpSize("150 99999999999999999999999 bytes"), 0u);
    // The first four bytes are the reply's code and its separator, never
    // the size's, whatever they hold; the last " bytes" names it.
    EXPECT_EQ(ParseFtpSize("150 7 bytes"), 7u);
    EXPECT_EQ(ParseFtpSize("15077 bytes"), 7u);
    EXPECT_EQ(ParseFtpSize("000150 bytes"), 50u);
    EXPECT_EQ(ParseFtpSize("1507 bytes"), 0u);
    EXPECT_EQ(ParseFtpSize("150 ( bytes)"), 0u);
    EXPECT_EQ(ParseFtpSize("150 (0 bytes)"), 0u);
    EXPECT_EQ(ParseFtpSize("150 (18446744073709551615 bytes)"), UINT64_MAX);
    EXPECT_EQ(ParseFtpSize("150 1 bytes, 22 bytes"), 22u);
    EXPECT_EQ(ParseFtpSize("150 22 bytes; 1 byte"), 22u);
}

}  // namespace
