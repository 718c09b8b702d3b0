// The Authenticode check of a file on Win32: WinVerifyTrust, and the leaf signer's subject
// from the chain it validated.
#pragma once

#include "platform/Signatures.h"

namespace varnek::win32 {

class Authenticode final : public ISignatureCheck {
public:
    Signature Check(std::string_view path) override;
    Signature CheckSelf() override;
};

} // namespace varnek::win32
