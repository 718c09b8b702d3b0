#include "win32/Authenticode.h"

#include "crypto/CSHA256.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/UniqueHandle.h"
#include "win32/Win32Services.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <string>
#include <vector>

namespace varnek::win32 {

namespace {

// The trust and certificate libraries are loaded on the first check, from the system folder:
// the program starts without them, and most runs never check a signature.
auto VerifyTrust() {
    return SystemFunction<decltype(&WinVerifyTrust)>(L"wintrust.dll", "WinVerifyTrust");
}

// The subject of `certificate` as the system writes it: every RDN in the certificate's order,
// "C=DK, O=Varnek IT ApS, CN=Varnek IT". Empty when it cannot be written.
std::wstring SubjectOf(PCCERT_CONTEXT certificate) {
    const auto nameToString =
        SystemFunction<decltype(&CertNameToStrW)>(L"crypt32.dll", "CertNameToStrW");
    if (!nameToString || !certificate || !certificate->pCertInfo) {
        return {};
    }
    CERT_NAME_BLOB* const subject = &certificate->pCertInfo->Subject;
    // The size counts the terminating null; an empty name still needs that one character.
    const DWORD size = nameToString(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, nullptr, 0);
    if (size <= 1) {
        return {};
    }
    std::wstring text(size, L'\0');
    const DWORD written =
        nameToString(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, text.data(), size);
    text.resize(written > 0 ? written - 1 : 0);
    return text;
}

// The signer of the chain the check validated, whose certificates are read from there (not
// picked from the file's certificate table, which may hold any certificate). Owned by the
// check's state.
CRYPT_PROVIDER_SGNR* ValidatedSigner(HANDLE state) {
    const auto providerData = SystemFunction<decltype(&WTHelperProvDataFromStateData)>(
        L"wintrust.dll", "WTHelperProvDataFromStateData");
    const auto signerOf = SystemFunction<decltype(&WTHelperGetProvSignerFromChain)>(
        L"wintrust.dll", "WTHelperGetProvSignerFromChain");
    if (!providerData || !signerOf) {
        return nullptr;
    }
    CRYPT_PROVIDER_DATA* const data = providerData(state);
    return data ? signerOf(data, 0, FALSE, 0) : nullptr;
}

// Certificate `index` of the signer's chain: 0 is the one that signed, the last its root.
PCCERT_CONTEXT ChainCertificate(CRYPT_PROVIDER_SGNR* signer, DWORD index) {
    const auto certificateOf = SystemFunction<decltype(&WTHelperGetProvCertFromChain)>(
        L"wintrust.dll", "WTHelperGetProvCertFromChain");
    if (!certificateOf || !signer || index >= signer->csCertChain) {
        return nullptr;
    }
    CRYPT_PROVIDER_CERT* const certificate = certificateOf(signer, index);
    return certificate ? certificate->pCert : nullptr;
}

// The SHA-256 of the chain's root certificate (its whole encoding), as 64 lowercase
// hexadecimal digits; empty when the chain's last certificate is not self-issued (no root).
std::string RootSha256(CRYPT_PROVIDER_SGNR* signer) {
    const PCCERT_CONTEXT root = signer && signer->csCertChain > 0
                                    ? ChainCertificate(signer, signer->csCertChain - 1)
                                    : nullptr;
    if (!root || !root->pCertInfo || !root->pbCertEncoded) {
        return {};
    }
    const CERT_NAME_BLOB& subject = root->pCertInfo->Subject;
    const CERT_NAME_BLOB& issuer = root->pCertInfo->Issuer;
    if (subject.cbData != issuer.cbData ||
        std::memcmp(subject.pbData, issuer.pbData, subject.cbData) != 0) {
        return {};
    }
    // The digest takes the low byte of each code unit: one unit per byte is the bytes' digest.
    std::u16string bytes(root->cbCertEncoded, u'\0');
    for (DWORD i = 0; i < root->cbCertEncoded; ++i) {
        bytes[i] = root->pbCertEncoded[i];
    }
    return CSHA256().SHA256(bytes);
}

// Whether the certificate's enhanced key usage extension names code signing. The extension
// alone counts: a certificate without one is good for every use to Windows, but was not
// issued for signing programs.
bool NamesCodeSigning(PCCERT_CONTEXT certificate) {
    const auto usageOf = SystemFunction<decltype(&CertGetEnhancedKeyUsage)>(
        L"crypt32.dll", "CertGetEnhancedKeyUsage");
    DWORD size = 0;
    if (!usageOf || !certificate ||
        !usageOf(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) ||
        size < sizeof(CERT_ENHKEY_USAGE)) {
        return false;
    }
    // A buffer of pointers, aligned for the structure the function writes into it.
    std::vector<void*> buffer((size + sizeof(void*) - 1) / sizeof(void*));
    auto* const usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!usageOf(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) {
        return false;
    }
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        const char* const oid = usage->rgpszUsageIdentifier[i];
        if (oid && std::strcmp(oid, szOID_PKIX_KP_CODE_SIGNING) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

void handle_kind::TrustState::Release(_WINTRUST_DATA* data) {
    // A library that was there for the check is still there: it stays loaded for the process.
    if (const auto verifyTrust = VerifyTrust()) {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        data->dwStateAction = WTD_STATEACTION_CLOSE;
        verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
    }
}

Signature Authenticode::Check(std::string_view path) {
    const auto verifyTrust = VerifyTrust();
    if (!verifyTrust) {
        return {Signature::Verdict::CannotCheck, HRESULT_FROM_WIN32(GetLastError()), {}};
    }
    const std::wstring widePath = Wide(path);
    // A file that is not there (or cannot be read) has no verdict of its own; the trust
    // provider would answer with a code that reads like one.
    if (GetFileAttributesW(widePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return {Signature::Verdict::CannotCheck, HRESULT_FROM_WIN32(GetLastError()), {}};
    }

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = widePath.c_str();

    WINTRUST_DATA trust{};
    trust.cbStruct = sizeof trust;
    trust.dwUIChoice = WTD_UI_NONE;
    // No revocation check and no fetching of anything over the network: customers' machines
    // may be offline or behind a proxy that this program cannot pass, and a check that waits
    // for a time-out there would hold up every update. What the system has cached is used, so
    // the signature must carry its intermediate certificates up to a root the machine trusts.
    trust.fdwRevocationChecks = WTD_REVOKE_NONE;
    trust.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &file;
    // The state is kept for reading the signer, and closed whatever the result.
    trust.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
    const DWORD lastError = GetLastError();
    const UniqueTrustState state(&trust);

    if (result == TRUST_E_NOSIGNATURE) {
        // "No signature" also stands for a file the provider could not read (a scanner holding
        // it): the thread's last error then says which. Only these mean the file has none.
        if (lastError == 0 || lastError == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
            lastError == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
            lastError == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN)) {
            return {Signature::Verdict::Unsigned, result, {}};
        }
        const auto error = static_cast<std::int32_t>(
            lastError & 0x80000000u ? lastError : HRESULT_FROM_WIN32(lastError));
        return {Signature::Verdict::CannotCheck, error, {}};
    }
    // A file that could not be read, or a system that ran out of something, says nothing about
    // the signature: the check could not complete this time.
    if (HRESULT_FACILITY(result) == FACILITY_WIN32 || result == E_OUTOFMEMORY ||
        result == TRUST_E_SYSTEM_ERROR) {
        return {Signature::Verdict::CannotCheck, result, {}};
    }
    // Only 0 is a valid signature: any other code (altered file, untrusted or expired chain,
    // a signature the provider does not know) is a refusal.
    if (result != 0) {
        return {Signature::Verdict::Invalid, result, {}};
    }
    CRYPT_PROVIDER_SGNR* const signer = ValidatedSigner(trust.hWVTStateData);
    const PCCERT_CONTEXT leaf = ChainCertificate(signer, 0);
    const std::wstring subject = SubjectOf(leaf);
    if (subject.empty()) {
        // Valid, but without a subject to hold it to: the caller must not take the file.
        return {Signature::Verdict::CannotCheck, result, {}};
    }
    return {Signature::Verdict::Valid, result, Utf8(subject), RootSha256(signer),
            NamesCodeSigning(leaf)};
}

Signature Authenticode::CheckSelf() {
    return Check(ProgramFile());
}

} // namespace varnek::win32
