// Authenticode signatures of executable files, as the update service checks them before a
// downloaded program or client may replace the one in the program folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnek {

struct Signature {
    enum class Verdict {
        Unsigned,    // the file carries no signature
        Valid,       // a signature whose chain the system validated, over the file as it is
        Invalid,     // a signature that is not valid (altered file, untrusted chain, ...)
        CannotCheck, // the check itself could not be made (no library, no file)
    };
    Verdict verdict = Verdict::CannotCheck;
    // The check's result code: 0 for a valid signature, else the system's (TRUST_E_...).
    std::int32_t code = 0;
    // Valid signatures: the whole subject of the leaf signer's certificate, every RDN in the
    // certificate's order, as "C=DK, O=Varnek IT ApS, CN=Varnek IT". Empty otherwise.
    std::string subject;
    // Valid signatures: the SHA-256 of the root certificate of the chain the check validated,
    // 64 lowercase hexadecimal digits; empty otherwise, or when the chain ends in no root.
    std::string rootSha256{};
    // Valid signatures: whether the leaf signer's certificate names code signing
    // (1.3.6.1.5.5.7.3.3) in its enhanced key usage extension. A certificate without that
    // extension, which Windows takes as good for every use, does not.
    bool codeSigning = false;

    bool operator==(const Signature&) const = default;
};

// May be called from any thread (the checks of a download run on its read's worker).
class ISignatureCheck {
public:
    virtual ~ISignatureCheck() = default;
    virtual Signature Check(std::string_view path) = 0;
    // The running program's own file.
    virtual Signature CheckSelf() = 0;
};

// The update service's log for technicians: one line per decision. Used from the
// user-interface thread only.
class ILogFile {
public:
    virtual ~ILogFile() = default;
    // Appends one line (UTF-8, no line break of its own). A line that cannot be written is
    // lost; nothing is reported and nothing waits for it.
    virtual void Append(std::string_view line) = 0;
    // The folder the log lives in, where the update service keeps what it remembers between
    // runs; empty when there is none.
    virtual std::string Folder() const = 0;
};

} // namespace varnek
