#include "storage/trusted_certificates.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::TempDir;

std::string Fingerprint(char digit) {
    std::string text;
    for (int i = 0; i < 32; ++i) text += std::string(i == 0 ? "" : ":") + digit + digit;
    return text;
}

TEST(TrustedCertificatesTest, OnlyTheTrustedCertificateOfThatServerPasses) {
    TempDir dir;
    TrustedCertificates trusted(dir.Path());
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, Fingerprint('A')));  // no file
    ASSERT_TRUE(trusted.Trust("News.Example.NET ", 563, Fingerprint('A')));
    // Separators and case do not matter; host, port and every digit do.
    EXPECT_TRUE(trusted.IsTrusted("news.example.net", 563, Fingerprint('a')));
    std::string bare = Fingerprint('A');
    std::erase(bare, ':');
    EXPECT_TRUE(trusted.IsTrusted("NEWS.example.net", 563, bare));
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, Fingerprint('B')));
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 564, Fingerprint('A')));
    EXPECT_FALSE(trusted.IsTrusted("news.example.org", 563, Fingerprint('A')));
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, bare.substr(2)));
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, ""));

    // A new certificate replaces the old one for that server only.
    ASSERT_TRUE(trusted.Trust("other.example", 563, Fingerprint('C')));
    ASSERT_TRUE(trusted.Trust("news.example.net", 563, Fingerprint('B')));
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, Fingerprint('A')));
    EXPECT_TRUE(trusted.IsTrusted("news.example.net", 563, Fingerprint('B')));
    EXPECT_TRUE(trusted.IsTrusted("other.example", 563, Fingerprint('C')));
}

TEST(TrustedCertificatesTest, DamagedLinesAreNeverTrustedAndNeverLost) {
    TempDir dir;
    const std::string damaged =
        "# kept by hand\n"
        "news.example.net 563\n"  // no fingerprint
        "news.example.net 99999999 " +
        Fingerprint('A') + "\n" +  // no port
        "news.example.net 563 " + Fingerprint('A').substr(3) + " extra\n" +
        "news.example.net 563 " + std::string(64, 'G') + "\n" +  // the length, not the digits
        "news.example.net 563 ZZ" + Fingerprint('A').substr(2) + "\n" + std::string("\x01\xff\n");
    dir.Write(TrustedCertificates::kFileName, damaged);
    TrustedCertificates trusted(dir.Path());
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, Fingerprint('A')));
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, std::string(64, 'G')));
    ASSERT_TRUE(trusted.Trust("news.example.net", 563, Fingerprint('A')));
    EXPECT_TRUE(trusted.IsTrusted("news.example.net", 563, Fingerprint('A')));
    EXPECT_TRUE(dir.Read(TrustedCertificates::kFileName).starts_with(damaged));

    // Names that could not be read back are refused, and the file stays as it was.
    const std::string before = dir.Read(TrustedCertificates::kFileName);
    std::string error;
    EXPECT_FALSE(trusted.Trust("news example.net", 563, Fingerprint('B'), &error));
    EXPECT_FALSE(trusted.Trust("", 563, Fingerprint('B')));
    EXPECT_FALSE(trusted.Trust("news.example.net", 563, "not a fingerprint"));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(dir.Read(TrustedCertificates::kFileName), before);
}

}  // namespace
}  // namespace quillfin::storage
