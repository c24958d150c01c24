#include "settings.h"

#include <cstdio>

namespace {

struct Choice {
    const char* value;
    const char* label;
    long field;
};

const Choice kPayload[] = {{"0", "128B", 0x00}, {"1", "256B", 0x20}};
const Choice kReadRequest[] = {{"0", "128B", 0x0000},  {"1", "256B", 0x1000},  {"2", "512B", 0x2000},
                               {"3", "1024B", 0x3000}, {"4", "2048B", 0x4000}, {"5", "4096B", 0x5000}};
const Choice kTimeoutDisable[] = {{"0", "Disable", 0x00}, {"1", "Enable", 0x10}};

template <size_t N>
const Choice* find(const Choice (&table)[N], const std::string& value) {
    for (const Choice& c : table)
        if (value == c.value) return &c;
    return nullptr;
}

// Rewrites the field under `keep` of every GPU's Device Control; a GPU that cannot be read
// is skipped rather than written with a guess.
void setDeviceControlField(const BusIdSet& set, long keep, long field) {
    for (const auto& gpu : set) {
        const std::optional<long> control = readRegister(gpu, "CAP_EXP+8.w", true);
        if (control) setpci(gpu, format("CAP_EXP+8.w=%lx", (*control & keep) | field), true);
    }
}

}  // namespace

std::optional<std::string> setMaxPayloadSize(BusIdSet set, const std::string& value) {
    const Choice* choice = find(kPayload, value);
    if (!choice) {
        printRedError("--set-mps: Set GPU MaxPayload.(E.g., 0: 128B; 1: 256B.), Invalid value.\n");
        return std::nullopt;
    }
    setDeviceControlField(set, 0xff1f, choice->field);
    std::printf("[MaxPayload Size]: %s\n\n", choice->label);
    return choice->label;
}

std::optional<std::string> setMaxReadRequestSize(BusIdSet set, const std::string& value) {
    const Choice* choice = find(kReadRequest, value);
    if (!choice) {
        printRedError("--set-mrrs: Set GPU MaxReadReq.(E.g., 0: 128B; 1: 256B; 2: 512B; 3: 1024B; 4: 2048B; 5: "
                      "4096B.), Invalid value.\n");
        return std::nullopt;
    }
    setDeviceControlField(set, 0x8fff, choice->field);
    std::printf("[MaxReadReq Size]: %s\n\n", choice->label);
    return choice->label;
}

std::optional<std::string> setTimeoutDisable(BusIdSet set, bool doSet, const std::string& value) {
    if (doSet) {
        const Choice* choice = find(kTimeoutDisable, value);
        if (!choice) {
            printRedError("--set-timeoutDis: Set GPU Completion Timeout Disable.(E.g., 0: Disable; 1: Enable.), "
                          "Invalid value.\n");
            return std::nullopt;
        }
        for (const auto& gpu : set) setpci(gpu, format("CAP_EXP+0X28.b=%lx", choice->field), true);
        std::printf("[Completion Timeout Disable]: %s\n\n", choice->label);
        return choice->label;
    }
    bool anyClear = false;
    for (const auto& gpu : set) {
        const std::optional<long> control2 = readRegister(gpu, "CAP_EXP+0X28.b", false);
        if (control2 && !(*control2 & 0x10)) {
            std::printf("[%s Completion Timeout Disable]: Disable\n", gpu.c_str());
            anyClear = true;
        }
    }
    const char* verdict = anyClear ? "Disable" : "Enable";
    std::printf("[Completion Timeout Disable]: %s\n\n", verdict);
    return verdict;
}
