#include "nntp/certificate_check.h"

#include <gtest/gtest.h>

#include "common/clock.h"
#include "support/temp_dir.h"

namespace quillfin::nntp {
namespace {

ServerCertificate Certificate(int port = 563) {
    ServerCertificate c;
    c.host = "news.example.net";
    c.port = port;
    c.subject = "CN=news.example.net";
    c.issuer = c.subject;
    for (int i = 0; i < 32; ++i) c.fingerprint += i == 0 ? "AB" : ":AB";
    c.problems = {"The certificate is self-signed, and untrusted"};
    return c;
}

class CertificateCheckTest : public ::testing::Test {
  protected:
    CertificateCheckTest() {
        settings.chkEnableLogging = 1;
        check.ask = [this](const ServerCertificate& c, CertificateCheck::Answer answer) {
            asked.push_back(c);
            answers.push_back(std::move(answer));
        };
    }
    // Records the decision for one connection: -1 while undecided.
    CertificateCheck::Answer Into(int* decision) {
        *decision = -1;
        return [decision](bool accepted) { *decision = accepted ? 1 : 0; };
    }

    testing::TempDir dir;
    storage::Settings settings;
    common::SystemClock clock;
    storage::ActivityLog log{settings, clock, dir.Path()};
    storage::TrustedCertificates trusted{dir.Path()};
    CertificateCheck check{trusted, log};
    std::vector<ServerCertificate> asked;
    std::vector<CertificateCheck::Answer> answers;
};

TEST_F(CertificateCheckTest, ConnectionsMeetingTheSameCertificateShareOneQuestion) {
    int scan = 0, download = 0, other_port = 0;
    check.Decide(Certificate(), Into(&scan));
    check.Decide(Certificate(), Into(&download));
    check.Decide(Certificate(564), Into(&other_port));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(scan, -1);
    answers[0](true);
    EXPECT_EQ(scan, 1);
    EXPECT_EQ(download, 1);
    EXPECT_EQ(other_port, -1);
    EXPECT_TRUE(check.Asking());
    answers[0](true);  // a second answer to the same question changes nothing
    answers[1](false);
    EXPECT_EQ(other_port, 0);
    EXPECT_FALSE(check.Asking());

    // Trusted: from now on, and in the next run (CERTS.TXT), without a question.
    int later = 0;
    check.Decide(Certificate(), Into(&later));
    CertificateCheck next_run(trusted, log);
    int next = 0;
    next_run.Decide(Certificate(), Into(&next));
    EXPECT_EQ(later, 1);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(asked.size(), 2u);
    // Another certificate from that server is asked about again, in this run too.
    ServerCertificate other = Certificate();
    other.fingerprint.replace(0, 2, "CD");
    int changed = 0;
    check.Decide(other, Into(&changed));
    EXPECT_EQ(changed, -1);
    EXPECT_EQ(asked.size(), 3u);
}

TEST_F(CertificateCheckTest, ARefusalHoldsUntilTheUserConnectsAnew) {
    int first = 0, again = 0;
    // The refused connection's handler reconnects at once, as a restart may.
    check.Decide(Certificate(), [&](bool accepted) {
        first = accepted ? 1 : 0;
        check.Decide(Certificate(), Into(&again));
    });
    answers[0](false);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(again, 0);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_FALSE(trusted.IsTrusted("news.example.net", 563, Certificate().fingerprint));
    check.ForgetRefusals();
    check.Decide(Certificate(), Into(&again));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(again, -1);
}

TEST_F(CertificateCheckTest, AnExpiredOrChangedCertificateIsAskedAboutAgain) {
    ASSERT_TRUE(trusted.Trust("news.example.net", 563, Certificate().fingerprint));
    ServerCertificate expired = Certificate();
    expired.expired = true;
    ServerCertificate changed = Certificate();
    changed.fingerprint = std::string(95, 'C');
    for (int i = 2; i < 95; i += 3) changed.fingerprint[std::size_t(i)] = ':';
    int decisions[2] = {};
    check.Decide(expired, Into(&decisions[0]));
    check.Decide(changed, Into(&decisions[1]));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(decisions[0], -1);
    EXPECT_FALSE(asked[0].changed);
    EXPECT_TRUE(asked[1].changed);
}

TEST_F(CertificateCheckTest, WithoutACertificateOrAnAskerEverythingIsRefused) {
    int decision = 0;
    ServerCertificate none = Certificate();
    none.fingerprint.clear();
    check.Decide(none, Into(&decision));
    EXPECT_EQ(decision, 0);
    check.ask = nullptr;
    check.Decide(Certificate(), Into(&decision));
    EXPECT_EQ(decision, 0);
    EXPECT_TRUE(asked.empty());
}

}  // namespace
}  // namespace quillfin::nntp
