// Staged releases: the server may offer a newer program version to a share of the machines
// first. Each machine's place among them is a stable number from its own id and the announced
// version text, so every release picks its first machines afresh, and a machine that waits for
// one release is not always among the last.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

// The share, in percent, of the machines that the announced version is offered to, from the
// rollout file as fetched: its bytes, or nothing when it could not be fetched (not on the
// server, or any failed read). The file holds a whole number 0 to 100 in decimal ASCII digits;
// blanks and line breaks around it, and a UTF-8 byte-order mark before it, are allowed (a file
// saved by hand). No file, an empty one, or one that holds anything else counts as 100: a
// server without the file, or with one the program cannot read, offers every release to every
// machine, as before there were staged releases.
int RolloutShare(const std::optional<std::vector<std::uint8_t>>& file);

// The machine's place for the announced version, 0 to 99: from the SHA-256 of the machine's id
// and the version text exactly as announced, so the same on every run and in every build, and
// unrelated from one version to the next.
int MachineNumber(std::string_view machineId, std::string_view announcedVersion);

struct RolloutDecision {
    bool takes = true; // the machine takes the announced version now
    int share = 100;
    // The machine's number for the version; absent when its id could not be read.
    std::optional<int> number;

    // Why the machine waits, for the update log, with the version as the log shows it: "1.0.3
    // is offered to 10 % of machines; this one is number 57".
    std::string WaitText(std::string_view shownVersion) const;
};

// Whether the machine takes the announced version now. A check a person asked for (the Update
// Check button) takes it whatever the share: that is how a technician helps one customer
// first. The automatic check takes it when the machine's number is below the share; a machine
// whose id cannot be read has no place, and takes the version only once it is offered to all.
RolloutDecision DecideRollout(int share, const std::optional<std::string>& machineId,
                              std::string_view announcedVersion, bool askedByUser);

} // namespace varnek
