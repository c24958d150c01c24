// PCIe profile: the tuned PCIe settings of the Quelvan GPUs and the ports above them, saved to a
// file and applied again after a reboot (the kernel forgets configuration-space writes).
//
// Devices are keyed by their path from the root port in the kernel's own notation,
// "0000:3a:00.0/00.0/08.0/00.0": device and function numbers are fixed by the board wiring,
// while the bus numbers below the root port depend on enumeration and change between boards.
#pragma once

#include <string>
#include <vector>

#include "device_access.h"

// One setting of one device, as its field value inside the register (not shifted).
struct ProfileValue {
    std::string field;  // name from the field table: "mps", "mrrs", "acs_ctl", ...
    long value = 0;
};

struct ProfileDevice {
    std::string path;  // path from the root port, see above
    std::string busId; // bus ID on the host the record was read from; informative only
    char role = '\0';  // PCI Express port type digit: '0' endpoint, '4' root, '5' up, '6' down
    std::vector<ProfileValue> values;
};

struct Profile {
    std::vector<ProfileDevice> devices;  // sorted by path
};

// One value that apply found different, and how it ended.
struct ProfileChange {
    std::string busId, path, field;
    long before = 0, wanted = 0, after = 0;  // after: read back once written; -1 unreadable
    bool ok() const { return after == wanted; }
};

struct ApplyResult {
    std::string error;  // non-empty: nothing was written (unreadable host, other topology)
    std::vector<ProfileChange> changes;
};

// Reads the settings of the GPUs of `gpus` and every port on their paths. error is set when a
// device's path or registers cannot be read.
Profile readProfile(const BusIdSet& gpus, std::string& error);

std::string renderProfile(const Profile& profile);
// Parses a profile file's text; error names the line that is not understood.
Profile parseProfile(const std::string& text, std::string& error);

// Brings the host to `wanted`: the topology must match (same paths, same roles), then each value
// that differs is written with setpci and read back. Nothing is written when all match.
ApplyResult applyProfile(const Profile& wanted, const BusIdSet& gpus);

// The apply report: one line per change, then a summary line.
std::string renderApplyReport(const ApplyResult& result);

// Entry points of --save-profile and --apply-profile; return the exit status
// (0 done, 1 a value did not read back, 2 the profile could not be saved or used).
int saveProfileCommand(const std::string& file);
int applyProfileCommand(const std::string& file);
