// Certificates made at test time, for the loopback server's TLS and as client certificates.
#pragma once

#include <string>

namespace testsupport {

struct TestCertificate {
    std::string certificatePem;
    std::string keyPem;
};

// A self-signed certificate with an EC key for one name (an IP address or a DNS name, which
// is also its common name), valid from validFromDays to validUntilDays relative to now.
TestCertificate MakeCertificate(const std::string& name, int validFromDays = -1,
                                int validUntilDays = 30);

}  // namespace testsupport
