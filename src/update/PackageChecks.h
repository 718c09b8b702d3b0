// The checks a downloaded package must pass before it may replace anything, and what each
// refusal means. Only what the file itself earned is lasting (remembered, so the same package is
// not fetched again): not a Windows program, another machine type, no valid signature by the
// signer required, a version resource that is not newer, a self-test that ran and failed. What
// the machine did this time (a file held by a scanner, access refused, a signature check that
// could not complete, a start that was blocked, a crash, a time-out) refuses it for now only:
// it is fetched again at the next check.
#pragma once

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/Signatures.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// A package larger than this is refused without writing more of it.
inline constexpr std::int64_t MaxPackageBytes = 512 * 1024 * 1024;
// A downloaded program must show that it starts: `New_VarnekIT.exe /selftest` ends with the
// self-test's pass code within this time.
inline constexpr std::uint32_t SelfTestTimeoutMs = 15000;
inline constexpr std::string_view SelfTestArgument = "/selftest";
// The exit code of a self-test that ran and passed. No other way through the program ends with
// it: a start that is not the self-test (a second start ends with 0, a failed start with 1), or a
// release that misreads its command line, cannot pass by accident.
inline constexpr std::uint32_t SelfTestPassed = 0x5E1F;

// The machine type a program must be built for to replace this one (the PE header's Machine).
std::uint16_t ProgramMachine();

// A signature as the log tells it.
std::string Described(const Signature& signature);

// The checks of a downloaded program, in their order: its kind of machine, its signature, then
// its version resource, which must be newer than the running version. Where the running program
// is signed, the new one must be signed for code signing, by the running program's whole
// subject, under a root the running program trusts for its updates: its own signature's root,
// or one of `updateRoots` (SHA-256, lowercase hex). A name alone is not trust: any authority
// the machine trusts (a company's own, an inspecting proxy's) can issue a certificate with any
// subject, but not under another authority's root.
FileVerdict CheckProgram(IFiles& files, ISignatureCheck& signatures, const std::string& file,
                         const std::vector<std::string>& updateRoots = {});

// The checks of a downloaded client: a configured publisher's signature; else the signer of a
// validly signed present client; a present client whose signature is not valid, or cannot be
// checked, keeps its place. Only where there is no client, or one that carries no signature at
// all, is any client taken. A signature must be for code signing and, where `clientRoots` names
// roots, chain to one of them. A client never goes backwards: one whose version resource is
// lower than the present client's, or that has none where the present one has one, is refused.
FileVerdict CheckClient(IFiles& files, ISignatureCheck& signatures, const std::string& file,
                        const std::string& present, const std::string& publisher,
                        const std::vector<std::string>& clientRoots = {});

// What the self-test's run says of the program.
FileVerdict SelfTestVerdict(const RunResult& run);

} // namespace varnek
