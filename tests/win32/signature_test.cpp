// The Authenticode check against Wine's real WinVerifyTrust, on copies of the program signed
// with throwaway certificates by the signature_samples fixture (cmake/make-signature-samples.py).
// Wine accepts a self-signed root that Windows would refuse (CERT_E_UNTRUSTEDROOT), so the
// samples can be checked here without trusting their roots first.
#include "Win32TestSupport.h"
#include "win32/Authenticode.h"
#include "win32/Text.h"

#include <gtest/gtest.h>

#include <string>

using namespace varnek;
using varnek::testing::ReadBytes;
using varnek::win32::Authenticode;
using varnek::win32::Utf8;
using Verdict = Signature::Verdict;

namespace {

class SignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t folder[MAX_PATH] = {};
        folder_.assign(folder,
                       GetEnvironmentVariableW(L"VARNEK_SIGNATURE_SAMPLES", folder, MAX_PATH));
        ASSERT_FALSE(folder_.empty()) << "VARNEK_SIGNATURE_SAMPLES names no folder (the "
                                         "signature_samples fixture sets it)";
    }

    Signature Check(const std::wstring& name) {
        return Authenticode().Check(Utf8(folder_ + L"\\" + name + L".exe"));
    }
    // What the fixture wrote for a sample: its expected subject, or publish.py's output.
    std::string Recorded(const std::wstring& name, const wchar_t* kind) {
        const auto text = ReadBytes(folder_ + L"\\" + name + L"." + kind);
        EXPECT_TRUE(text) << Utf8(name) << " has no ." << Utf8(kind) << " file";
        return text.value_or("<none>");
    }
    // A valid signature by exactly the recorded subject, chaining to the root openssl made,
    // both written as publish.py writes them: the subject, then "root SHA-256: <hash> (...)".
    void ExpectValidBy(const std::wstring& name) {
        const Signature signature = Check(name);
        EXPECT_EQ(signature.verdict, Verdict::Valid)
            << Utf8(name) << " " << std::hex << signature.code;
        EXPECT_EQ(signature.code, 0);
        EXPECT_EQ(signature.subject, Recorded(name, L"subject"));
        EXPECT_EQ(signature.rootSha256, Recorded(name, L"root"));
        const std::string shown =
            signature.subject + "\nroot SHA-256: " + signature.rootSha256 + " (";
        EXPECT_EQ(Recorded(name, L"show-signer").substr(0, shown.size()), shown);
    }

    std::wstring folder_;
};

TEST_F(SignatureTest, AProgramSignedByTheCompanyIsValidWithItsWholeSubject) {
    ExpectValidBy(L"company");
}

TEST_F(SignatureTest, ARenewedCertificateOfTheSameSubjectGivesTheSameSubject) {
    ExpectValidBy(L"renewed");
    EXPECT_EQ(Check(L"renewed").subject, Check(L"company").subject);
}

TEST_F(SignatureTest, TheSubjectIsTheSignersNotTheFirstCertificateTheFileCarries) {
    // Signed by the company; the other organisation's certificate comes first in the file.
    ExpectValidBy(L"decoy");
    EXPECT_EQ(Check(L"decoy").subject, Check(L"company").subject);
}

TEST_F(SignatureTest, TheSameCommonNameOfAnotherOrganisationGivesItsOwnSubject) {
    ExpectValidBy(L"impostor");
    EXPECT_NE(Check(L"impostor").subject, Check(L"company").subject);
}

TEST_F(SignatureTest, QuotedValuesDanishLettersAndEveryShortNameAreWrittenAsPublishWritesThem) {
    ExpectValidBy(L"quoting");
}

TEST_F(SignatureTest, TheRootIsTheLastCertificateOfTheValidatedChain) {
    // Issued by a root of its own: the root's hash, not the signer's. (A self-signed signer is
    // its own root: the company sample.)
    ExpectValidBy(L"chained");
    EXPECT_NE(Check(L"chained").rootSha256, Check(L"company").rootSha256);
    EXPECT_EQ(Check(L"chained").subject, Check(L"company").subject);
}

TEST_F(SignatureTest, TheCodeSigningUsageIsReadFromTheSignersCertificate) {
    EXPECT_TRUE(Check(L"company").codeSigning);
    EXPECT_TRUE(Check(L"chained").codeSigning);
    // The same root and subject, without an enhanced key usage extension: still valid.
    ExpectValidBy(L"no-usage");
    EXPECT_FALSE(Check(L"no-usage").codeSigning);
    EXPECT_EQ(Check(L"no-usage").rootSha256, Check(L"chained").rootSha256);
    // Other usages only.
    ExpectValidBy(L"server-usage");
    EXPECT_FALSE(Check(L"server-usage").codeSigning);
}

TEST_F(SignatureTest, AnUnsignedProgramIsUnsigned) {
    const Signature signature = Check(L"unsigned");
    EXPECT_EQ(signature.verdict, Verdict::Unsigned);
    EXPECT_EQ(static_cast<std::uint32_t>(signature.code), 0x800B0100u); // TRUST_E_NOSIGNATURE
    EXPECT_EQ(signature.subject, "");
    EXPECT_EQ(signature.rootSha256, "");
    EXPECT_FALSE(signature.codeSigning);
}

TEST_F(SignatureTest, AProgramAlteredAfterSigningIsInvalidWithoutASubject) {
    const Signature signature = Check(L"altered");
    EXPECT_EQ(signature.verdict, Verdict::Invalid);
    EXPECT_EQ(static_cast<std::uint32_t>(signature.code), 0x80096010u); // TRUST_E_BAD_DIGEST
    EXPECT_EQ(signature.subject, "");
    EXPECT_EQ(signature.rootSha256, "");
    EXPECT_FALSE(signature.codeSigning);
}

TEST_F(SignatureTest, AMissingFileCannotBeChecked) {
    const Signature signature = Check(L"not-there");
    EXPECT_EQ(signature.verdict, Verdict::CannotCheck);
    EXPECT_NE(signature.code, 0);
    EXPECT_EQ(signature.subject, "");
}

} // namespace
