#include "update/Rollout.h"

#include "crypto/CSHA256.h"
#include "update/VersionText.h"

namespace varnek {

int RolloutShare(const std::optional<std::vector<std::uint8_t>>& file) {
    constexpr int Everyone = 100;
    if (!file) {
        return Everyone;
    }
    std::string_view text(reinterpret_cast<const char*>(file->data()), file->size());
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    text = TrimBlanks(text);
    // At most three digits, so the number cannot overflow whatever the file holds.
    if (text.empty() || text.size() > 3) {
        return Everyone;
    }
    int share = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return Everyone;
        }
        share = share * 10 + (c - '0');
    }
    return share <= Everyone ? share : Everyone;
}

int MachineNumber(std::string_view machineId, std::string_view announcedVersion) {
    // The digest takes the low byte of each code unit: one unit per byte digests the bytes.
    std::u16string message;
    for (const char c : std::string(machineId) + ' ' + std::string(announcedVersion)) {
        message.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    // The first 32 bits of the digest; their remainder by 100 favours no number measurably.
    const std::string digest = CSHA256().SHA256(message);
    return static_cast<int>(std::stoul(digest.substr(0, 8), nullptr, 16) % 100);
}

std::string RolloutDecision::WaitText(std::string_view shownVersion) const {
    std::string text =
        std::string(shownVersion) + " is offered to " + std::to_string(share) + " % of machines; ";
    return text + (number ? "this one is number " + std::to_string(*number)
                          : "this one cannot read its machine id and waits for 100 %");
}

RolloutDecision DecideRollout(int share, const std::optional<std::string>& machineId,
                              std::string_view announcedVersion, bool askedByUser) {
    RolloutDecision decision;
    decision.share = share;
    if (machineId) {
        decision.number = MachineNumber(*machineId, announcedVersion);
    }
    decision.takes = askedByUser || share >= 100 || (decision.number && *decision.number < share);
    return decision;
}

} // namespace varnek
