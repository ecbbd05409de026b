#include "http/client.h"

#include <gtest/gtest.h>

#include "http/http_error.h"
#include "support/fake_transport.h"

namespace sw {
namespace {

using test::FakeAnswer;
using test::FakeStep;
using test::FakeTransport;
using test::RecordedRequest;

TEST(HttpErrorText, FixedMessagesAndTemplates) {
    EXPECT_EQ(HttpError::network_text("connection closed early").message(),
              "network: connection closed early");
    EXPECT_EQ(HttpError::http_status(404).message(), "HTTP 404");
    EXPECT_EQ(HttpError::too_large().message(), "response too large");
    EXPECT_EQ(HttpError::file(message_error("disk full (os error 28)")).message(),
              "file: disk full (os error 28)");
    EXPECT_EQ(HttpError::cancelled().message(), "cancelled");
    EXPECT_EQ(HttpError::bad_url().message(), "bad URL");
}

TEST(HttpGet, SplitsTheUrlForTheTransport) {
    FakeTransport t([](const RecordedRequest&, size_t) { return FakeAnswer{204, 0, ""}; });
    ASSERT_TRUE(http_get("https://dl.example:8443/a/b?c=d", "X: y\r\n", t));
    ASSERT_TRUE(http_get("https://dl.example", "", t));
    auto r = t.requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].host, "dl.example");
    EXPECT_EQ(r[0].port, 8443);
    EXPECT_EQ(r[0].path, "/a/b?c=d");
    EXPECT_EQ(r[0].headers, "X: y\r\n");
    EXPECT_EQ(r[1].port, 443);
    EXPECT_EQ(r[1].path, "/");
}

TEST(HttpGet, OtherSchemesAreBadUrlsAndNeverSent) {
    FakeTransport t;
    for (const char* url : {"http://dl.example/", "HTTPS://dl.example/", "Https://dl.example/"}) {
        auto r = http_get(url, "", t);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, HttpErrorKind::BadUrl);
    }
    EXPECT_TRUE(t.requests().empty());
}

class HttpGetText : public ::testing::Test {
  protected:
    // Serves `body`, announcing its length or not, in small reads.
    void serve(std::string body, bool announce_length, uint32_t status = 200) {
        transport.set_handler([=](const RecordedRequest&, size_t) {
            FakeAnswer a{status, std::nullopt, body};
            if (announce_length) a.content_length = body.size();
            a.chunk = 7;
            return FakeStep(a);
        });
    }
    FakeTransport transport;
};

TEST_F(HttpGetText, ExactlyTheLimitIsAcceptedOneMoreIsTooLarge) {
    for (bool announce : {true, false}) {
        serve(std::string(100, 'a'), announce);
        auto ok = http_get_text("https://dl.example/x.json", 100, transport);
        ASSERT_TRUE(ok) << announce;
        EXPECT_EQ(ok->size(), 100u);

        serve(std::string(101, 'a'), announce);
        auto big = http_get_text("https://dl.example/x.json", 100, transport);
        ASSERT_FALSE(big) << announce;
        EXPECT_EQ(big.error().message(), "response too large");
    }
}

TEST_F(HttpGetText, AnnouncedLengthOverTheLimitStopsBeforeTheBody) {
    bool body_read = false;
    transport.set_handler([&](const RecordedRequest&, size_t) {
        FakeAnswer a{200, 70'000, std::string(10, 'x')};
        a.on_read = [&](uint64_t) { body_read = true; };
        return FakeStep(a);
    });
    auto r = http_get_text("https://dl.example/x.json", 65'536, transport);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, HttpErrorKind::TooLarge);
    EXPECT_FALSE(body_read);
}

TEST_F(HttpGetText, StatusOtherThan200) {
    serve("not here", true, 404);
    auto r = http_get_text("https://dl.example/x.json", 100, transport);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "HTTP 404");
    serve("", true, 206);
    EXPECT_EQ(http_get_text("https://dl.example/x.json", 100, transport).error().message(),
              "HTTP 206");
}

TEST_F(HttpGetText, BodyMustBeUtf8) {
    serve("{\"v\": \"caf\xc3\xa9\"}", false);
    EXPECT_TRUE(http_get_text("https://dl.example/x.json", 100, transport));
    serve("{\"v\": \"caf\xe9\"}", false);
    auto r = http_get_text("https://dl.example/x.json", 100, transport);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "network: response is not UTF-8");
}

TEST_F(HttpGetText, ReadAndConnectFailuresAreNetworkErrors) {
    transport.set_handler([](const RecordedRequest&, size_t) {
        FakeAnswer a{200, 100, std::string(100, 'a')};
        a.fail_after = 50;
        return FakeStep(a);
    });
    auto r = http_get_text("https://dl.example/x.json", 100, transport);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, HttpErrorKind::Network);

    transport.set_handler([](const RecordedRequest&, size_t) {
        return FakeStep::fail(HttpError::network_text("no route"));
    });
    EXPECT_EQ(http_get_text("https://dl.example/x.json", 100, transport).error().message(),
              "network: no route");
}

}  // namespace
}  // namespace sw
