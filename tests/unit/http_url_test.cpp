#include "http/url.h"

#include <gtest/gtest.h>

#include <string>

namespace sw {
namespace {

// Fixed names, so that the cases read the same whatever hosts the build was given.
const TrustedHosts kHosts{"dl.ortivex.example", "eu.dl-ortivex.example"};

TEST(ParseHttpsUrl, HostPortAndPath) {
    auto u = parse_https_url("https://dl.ortivex.example/downloads/a.iso");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "dl.ortivex.example");
    EXPECT_EQ(u->port, 443);
    EXPECT_EQ(u->path, "/downloads/a.iso");

    u = parse_https_url("https://Host-1.example:8443");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "Host-1.example");
    EXPECT_EQ(u->port, 8443);
    EXPECT_EQ(u->path, "/");  // no path requests "/"

    EXPECT_EQ(parse_https_url("https://a:1/")->port, 1);
    EXPECT_EQ(parse_https_url("https://a:65535/")->port, 65535);
    EXPECT_EQ(parse_https_url("https://a:00443/")->port, 443);
}

TEST(ParseHttpsUrl, RefusesOtherSchemesAndBadAuthorities) {
    for (const char* url : {
             "http://dl.ortivex.example/",    // not TLS
             "HTTPS://dl.ortivex.example/",   // the scheme is exact and lower case
             "https:/dl.ortivex.example/",    //
             "https://",                      // no host
             "https:///path",                 // empty host
             "https://a:0/",                  // port 0
             "https://a:65536/",              // overflow
             "https://a:123456/",             // six digits
             "https://a:/",                   // empty port
             "https://a:+1/",                 // not only digits
             "https://a:44 3/",               // blank
             "https://user@a.example/",       // user-info
             "https://user:pw@a.example/",    // user-info with a colon
             "https://[::1]:443/",            // address literals are not host names
             "https://a..b/",                 // empty label
             "https://.a/",                   //
             "https://a./",                   // trailing dot
             "https://-a.example/",           // label starts with "-"
             "https://a-.example/",           // label ends with "-"
             "https://a_b.example/",          // underscore
             "https://a.example/x y",         // space anywhere
             "https://a.example\\x",          // backslash
             "https://a.example/\x7f",        // DEL
             "https://caf\xc3\xa9.example/",  // not ASCII
         }) {
        EXPECT_FALSE(parse_https_url(url)) << url;
    }
}

TEST(ParseHttpsUrl, LabelAndHostLengthLimits) {
    std::string label63(63, 'a');
    EXPECT_TRUE(parse_https_url("https://" + label63 + ".example/"));
    EXPECT_FALSE(parse_https_url("https://" + label63 + "a.example/"));

    // 253 bytes is the longest host; 254 is refused.
    std::string host = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    ASSERT_EQ(host.size(), 253u);
    EXPECT_TRUE(parse_https_url("https://" + host + "/"));
    EXPECT_FALSE(parse_https_url("https://" + host + "b/"));
}

TEST(TrustedHost, ExactNamesAndSubdomainsOnRequest) {
    EXPECT_TRUE(is_trusted_host("dl.ortivex.example", false, kHosts));
    EXPECT_TRUE(is_trusted_host("DL.Ortivex.EXAMPLE", false, kHosts));
    EXPECT_TRUE(is_trusted_host("eu.dl-ortivex.example", false, kHosts));
    EXPECT_FALSE(is_trusted_host("mirror.dl.ortivex.example", false, kHosts));

    EXPECT_TRUE(is_trusted_host("mirror.dl.ortivex.example", true, kHosts));
    EXPECT_TRUE(is_trusted_host("a.b.eu.dl-ortivex.example", true, kHosts));
    // Ending with the name is not enough without the dot.
    EXPECT_FALSE(is_trusted_host("evildl.ortivex.example", true, kHosts));
    EXPECT_FALSE(is_trusted_host("xeu.dl-ortivex.example", true, kHosts));
    EXPECT_FALSE(is_trusted_host(".dl.ortivex.example", true, kHosts));
    EXPECT_FALSE(is_trusted_host("ortivex.example", true, kHosts));
    EXPECT_FALSE(is_trusted_host("dl.ortivex.example.evil.example", true, kHosts));
    EXPECT_FALSE(is_trusted_host("", true, kHosts));
}

TEST(TrustedImageUrl, OnlyTheTrustedHostsThemselvesOnPort443) {
    EXPECT_TRUE(is_trusted_image_url("https://dl.ortivex.example/downloads/x.iso", kHosts));
    EXPECT_TRUE(is_trusted_image_url("https://eu.dl-ortivex.example:443/x.iso", kHosts));
    EXPECT_TRUE(is_trusted_image_url("https://DL.ORTIVEX.EXAMPLE/x.iso", kHosts));
    EXPECT_FALSE(is_trusted_image_url("https://mirror.dl.ortivex.example/x.iso", kHosts));
    EXPECT_FALSE(is_trusted_image_url("https://dl.ortivex.example:8443/x.iso", kHosts));
    EXPECT_FALSE(is_trusted_image_url("http://dl.ortivex.example/x.iso", kHosts));
    EXPECT_FALSE(is_trusted_image_url("https://evil.example/x.iso", kHosts));
    EXPECT_FALSE(is_trusted_image_url("https://dl.ortivex.example@evil.example/x.iso", kHosts));
}

TEST(DownloadBase, TrustedHostOrSubdomainAnyPortEndingInSlash) {
    EXPECT_TRUE(is_valid_download_base("https://dl.ortivex.example/downloads/", kHosts));
    EXPECT_TRUE(is_valid_download_base("https://dl.ortivex.example/", kHosts));
    EXPECT_TRUE(is_valid_download_base("https://beta.dl.ortivex.example:8443/d/", kHosts));
    EXPECT_FALSE(is_valid_download_base("https://dl.ortivex.example/downloads", kHosts));
    EXPECT_FALSE(is_valid_download_base("https://dl.ortivex.example", kHosts));
    EXPECT_FALSE(is_valid_download_base("https://dl.ortivex.example/d/?x=/", kHosts));
    EXPECT_FALSE(is_valid_download_base("https://dl.ortivex.example/d#/", kHosts));
    EXPECT_FALSE(is_valid_download_base("https://evil.example/downloads/", kHosts));
    EXPECT_FALSE(is_valid_download_base("http://dl.ortivex.example/downloads/", kHosts));
    EXPECT_FALSE(is_valid_download_base("", kHosts));
}

TEST(DownloadBase, ConfiguredHostsAreTrustedAndDistinct) {
    TrustedHosts hosts = configured_hosts();
    EXPECT_NE(hosts.primary, hosts.regional);
    EXPECT_TRUE(is_trusted_host(hosts.primary, false));
    EXPECT_TRUE(is_trusted_host(hosts.regional, false));
    EXPECT_TRUE(is_trusted_image_url("https://" + std::string(hosts.regional) + "/x.iso"));
    EXPECT_TRUE(is_valid_download_base("https://" + std::string(hosts.primary) + "/downloads/"));
    EXPECT_FALSE(is_trusted_host("example.invalid", true));
}

TEST(RequestTarget, BadUrlWithoutTouchingTheNetwork) {
    auto t = request_target("https://dl.ortivex.example");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->path, "/");
    for (const char* url : {"http://dl.ortivex.example/", "HTTPS://dl.ortivex.example/", "ftp://x/",
                            "https://x:99999/"}) {
        auto r = request_target(url);
        ASSERT_FALSE(r) << url;
        EXPECT_EQ(r.error().message(), "bad URL");
    }
}

}  // namespace
}  // namespace sw
