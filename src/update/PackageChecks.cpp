#include "update/PackageChecks.h"

#include "platform/Text.h"
#include "update/VersionText.h"

#include <algorithm>

namespace varnek {

namespace {

FileVerdict Accepted(std::vector<std::string> notes = {}) {
    return {{}, false, std::move(notes)};
}
FileVerdict RefusedForGood(std::string why, std::vector<std::string> notes = {}) {
    return {"refused: " + std::move(why), true, std::move(notes)};
}
FileVerdict RefusedForNow(std::string why, std::vector<std::string> notes = {}) {
    return {"refused for now: " + std::move(why), false, std::move(notes)};
}

// A file that could not be read this time, and why.
std::string Unreadable(std::string_view what, std::uint32_t error) {
    return std::string(what) + " cannot be read now (error " + std::to_string(error) + ")";
}

// The Machine field of a program's PE header: none where the file has no such header, or the
// error where it could not be read.
struct Machine {
    std::optional<std::uint16_t> type;
    std::uint32_t error = 0;
};

Machine MachineOf(IFiles& files, const std::string& file) {
    constexpr std::size_t HeaderAt = 0x3C; // e_lfanew in the DOS header
    constexpr std::uint32_t Farthest = 64 * 1024;
    const auto word = [](const std::vector<std::uint8_t>& bytes, std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    FileBytes read = files.ReadStart(file, 4096);
    const auto& bytes = read.bytes;
    if (read.error != 0) {
        return {std::nullopt, read.error};
    }
    if (bytes.size() < HeaderAt + 4 || bytes[0] != 'M' || bytes[1] != 'Z') {
        return {};
    }
    const std::uint32_t at = word(bytes, HeaderAt) | (word(bytes, HeaderAt + 2) << 16);
    if (at > Farthest) {
        return {};
    }
    if (bytes.size() < at + 6u) {
        read = files.ReadStart(file, at + 6u);
        if (read.error != 0) {
            return {std::nullopt, read.error};
        }
    }
    if (bytes.size() < at + 6u || bytes[at] != 'P' || bytes[at + 1] != 'E' || bytes[at + 2] != 0 ||
        bytes[at + 3] != 0) {
        return {};
    }
    return {static_cast<std::uint16_t>(word(bytes, at + 4)), 0};
}

// Whether a signature's root is one of those trusted (never an unknown root: empty).
bool TrustedRoot(const std::string& root, const std::vector<std::string>& trusted) {
    return !root.empty() && std::find(trusted.begin(), trusted.end(), root) != trusted.end();
}

std::string RootRefusal(std::string_view what, const Signature& signature) {
    return "the " + std::string(what) + "'s signature chains to the root " +
           (signature.rootSha256.empty() ? std::string("(none that could be read)")
                                         : "SHA-256 " + signature.rootSha256);
}

std::string VersionText(const std::array<int, 4>& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

// Errors of a start that say the file is no program this machine can run: the file's own fault.
bool NotAProgramHere(std::uint32_t error) {
    constexpr std::uint32_t BadFormat = 11, InvalidExeSignature = 191, BadExeFormat = 193,
                            MachineTypeMismatch = 216;
    return error == BadFormat || error == InvalidExeSignature || error == BadExeFormat ||
           error == MachineTypeMismatch;
}

} // namespace

std::uint16_t ProgramMachine() {
#if defined(__x86_64__) || defined(_M_X64)
    return 0x8664;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return 0xAA64;
#elif defined(__i386__) || defined(_M_IX86)
    return 0x014C;
#else
#error "unknown machine type"
#endif
}

std::string Described(const Signature& signature) {
    switch (signature.verdict) {
    case Signature::Verdict::Valid:
        return "signed by " + Quoted(signature.subject);
    case Signature::Verdict::Unsigned:
        return "not signed";
    case Signature::Verdict::Invalid:
        return "signature not valid (" + CodeText(static_cast<std::uint32_t>(signature.code)) + ")";
    case Signature::Verdict::CannotCheck:
        break;
    }
    return "signature cannot be checked (" + CodeText(static_cast<std::uint32_t>(signature.code)) +
           ")";
}

FileVerdict CheckProgram(IFiles& files, ISignatureCheck& signatures, const std::string& file,
                         const std::vector<std::string>& updateRoots) {
    std::vector<std::string> notes;
    const Machine machine = MachineOf(files, file);
    if (machine.error != 0) {
        return RefusedForNow(Unreadable("the program", machine.error));
    }
    if (!machine.type) {
        return RefusedForGood("the program has no Windows program header");
    }
    if (*machine.type != ProgramMachine()) {
        return RefusedForGood("the program is made for another machine type (0x" +
                              Hexadecimal(*machine.type, 4) + ", this one is 0x" +
                              Hexadecimal(ProgramMachine(), 4) + ")");
    }
    // A signed program takes only what its own signer signed: the signer's subject, not its
    // key, so a renewed certificate keeps working.
    const Signature self = signatures.CheckSelf();
    if (self.verdict == Signature::Verdict::Unsigned) {
        notes.push_back("the running program is not signed: no signature required");
    } else if (self.verdict != Signature::Verdict::Valid) {
        // The running program carries a signature this machine cannot confirm: nothing it
        // could be compared with, so nothing is installed.
        return RefusedForNow("the running program's own signature cannot be confirmed (" +
                             Described(self) + ")");
    } else {
        const Signature signature = signatures.Check(file);
        notes.push_back("downloaded program: " + Described(signature));
        if (signature.verdict == Signature::Verdict::CannotCheck) {
            return RefusedForNow("the program's " + Described(signature), std::move(notes));
        }
        if (signature.verdict != Signature::Verdict::Valid || signature.subject != self.subject) {
            return RefusedForGood("the program is " + Described(signature) +
                                      ", not by the running program's signer " +
                                      Quoted(self.subject),
                                  std::move(notes));
        }
        if (!signature.codeSigning) {
            return RefusedForGood("the program's signing certificate is not for code signing",
                                  std::move(notes));
        }
        std::vector<std::string> trusted = updateRoots;
        trusted.push_back(self.rootSha256);
        if (!TrustedRoot(signature.rootSha256, trusted)) {
            return RefusedForGood(RootRefusal("program", signature) +
                                      ", neither the running program's nor one its build names",
                                  std::move(notes));
        }
    }
    // Only once the signature is known good is anything read from inside the file.
    const FileVersionInfo version = files.FileVersion(file);
    if (version.error != 0) {
        return RefusedForNow(Unreadable("the program's version resource", version.error),
                             std::move(notes));
    }
    const VersionNumber running = RunningVersion();
    if (!version.version ||
        !std::lexicographical_compare(running.begin(), running.begin() + 3,
                                      version.version->begin(), version.version->begin() + 3)) {
        return RefusedForGood("the program's version resource is not newer than " +
                                  RunningVersionText(),
                              std::move(notes));
    }
    return Accepted(std::move(notes));
}

FileVerdict CheckClient(IFiles& files, ISignatureCheck& signatures, const std::string& file,
                        const std::string& present, const std::string& publisher,
                        const std::vector<std::string>& clientRoots) {
    std::vector<std::string> notes;
    const bool hasPresent = files.FileExists(present);
    std::string required = publisher;
    std::string whose = "the configured publisher";
    if (required.empty() && hasPresent) {
        const Signature current = signatures.Check(present);
        switch (current.verdict) {
        case Signature::Verdict::Valid:
            required = current.subject;
            whose = "the present client's signer";
            break;
        case Signature::Verdict::Unsigned:
            notes.push_back("the present client is not signed: no signature required");
            break;
        case Signature::Verdict::Invalid:
            return RefusedForGood("the present client's " + Described(current) +
                                  ": no client replaces it");
        case Signature::Verdict::CannotCheck:
            return RefusedForNow("the present client's " + Described(current));
        }
    } else if (required.empty()) {
        notes.push_back("no client here: no signature required");
    }
    if (!required.empty()) {
        const Signature signature = signatures.Check(file);
        notes.push_back("downloaded client: " + Described(signature));
        if (signature.verdict == Signature::Verdict::CannotCheck) {
            return RefusedForNow("the client's " + Described(signature), std::move(notes));
        }
        if (signature.verdict != Signature::Verdict::Valid || signature.subject != required) {
            return RefusedForGood("the client is " + Described(signature) + ", not by " + whose +
                                      " " + Quoted(required),
                                  std::move(notes));
        }
        if (!signature.codeSigning) {
            return RefusedForGood("the client's signing certificate is not for code signing",
                                  std::move(notes));
        }
        if (!clientRoots.empty() && !TrustedRoot(signature.rootSha256, clientRoots)) {
            return RefusedForGood(RootRefusal("client", signature) + ", not one its build names",
                                  std::move(notes));
        }
    }
    // Never backwards: an older client, one with known holes perhaps, served again.
    if (hasPresent) {
        const FileVersionInfo current = files.FileVersion(present);
        const FileVersionInfo fresh = files.FileVersion(file);
        if (current.error != 0 || fresh.error != 0) {
            return RefusedForNow(Unreadable("the clients' version resources",
                                            current.error != 0 ? current.error : fresh.error),
                                 std::move(notes));
        }
        if (current.version && (!fresh.version || *fresh.version < *current.version)) {
            return RefusedForGood(
                "the client's version " + (fresh.version ? VersionText(*fresh.version) : "(none)") +
                    " is older than the present client's " + VersionText(*current.version),
                std::move(notes));
        }
    }
    return Accepted(std::move(notes));
}

FileVerdict SelfTestVerdict(const RunResult& run) {
    switch (run.outcome) {
    case RunResult::Outcome::Refused:
        return run.verdict;
    case RunResult::Outcome::Exited:
        if (run.code == SelfTestPassed) {
            return Accepted({"the program's self-test passed"});
        }
        // Codes with the top bit set are the system's (an exception: a crash of this start, on
        // this machine, which may not recur).
        if (run.code >= 0x80000000u) {
            return RefusedForNow("the program's self-test was ended by an exception (" +
                                 CodeText(run.code) + ")");
        }
        if (run.code == 0) {
            return RefusedForGood("the program did not run its self-test (it ended with 0, as a "
                                  "start that is not the self-test does)");
        }
        return RefusedForGood("the program's self-test ended with code " +
                              std::to_string(run.code) + " (" + CodeText(run.code) + ")");
    case RunResult::Outcome::NotStarted:
        if (NotAProgramHere(run.code)) {
            return RefusedForGood("the program cannot be started (error " +
                                  std::to_string(run.code) + ")");
        }
        return RefusedForNow("the program cannot be started now (error " +
                             std::to_string(run.code) + ")");
    case RunResult::Outcome::TimedOut:
        break;
    }
    return RefusedForNow("the program's self-test did not end within " +
                         std::to_string(SelfTestTimeoutMs / 1000) + " s and was ended");
}

} // namespace varnek
