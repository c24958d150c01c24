#include "profile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "atomic_file.h"
#include "enum_device.h"
#include "host.h"
#include "report.h"

namespace {

enum class Kind { Bytes, Flag, Hex };

// The settings the tuner changes, each a field of one register, and the port types that carry it.
struct Field {
    const char* name;
    const char* label;  // for the apply report
    const char* reg;    // setpci register name
    long mask;
    Kind kind;
    const char* roles;  // port type digits
};

const Field kFields[] = {
    {"mps", "MaxPayload", "CAP_EXP+8.w", 0x00e0, Kind::Bytes, "0456"},
    {"mrrs", "MaxReadReq", "CAP_EXP+8.w", 0x7000, Kind::Bytes, "0456"},
    {"relaxed_ordering", "RlxdOrd", "CAP_EXP+8.w", 0x0010, Kind::Flag, "0456"},
    {"ext_tag", "ExtTag", "CAP_EXP+8.w", 0x0100, Kind::Flag, "0456"},
    {"no_snoop", "NoSnoop", "CAP_EXP+8.w", 0x0800, Kind::Flag, "0456"},
    {"cto_disable", "Completion Timeout Disable", "CAP_EXP+0x28.w", 0x0010, Kind::Flag, "0"},
    {"acs_ctl", "ACS control", "ecap_acs+6.b", 0x00ff, Kind::Hex, "6"},
};

struct Role {
    char digit;
    const char* name;
};
const Role kRoles[] = {{'0', "gpu"}, {'4', "root"}, {'5', "up"}, {'6', "down"}};

const char* const kHeader = "quelvan-pcie-profile 1";

const Field* findField(const std::string& name) {
    for (const Field& f : kFields)
        if (name == f.name) return &f;
    return nullptr;
}

int shiftOf(long mask) {
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    return shift;
}

std::string roleName(char digit) {
    for (const Role& r : kRoles)
        if (r.digit == digit) return r.name;
    return std::string("type") + (digit ? digit : '?');
}

char roleDigit(const std::string& name) {
    for (const Role& r : kRoles)
        if (name == r.name) return r.digit;
    return name.size() == 5 && name.rfind("type", 0) == 0 ? name[4] : '\0';
}

std::string valueText(const Field& f, long value) {
    switch (f.kind) {
    case Kind::Bytes: return std::to_string(128L << (value >> shiftOf(f.mask)));
    case Kind::Flag: return value ? "on" : "off";
    case Kind::Hex: return format("0x%02lx", value);
    }
    return "";
}

std::optional<long> parseValue(const Field& f, const std::string& text) {
    long value = -1;
    if (f.kind == Kind::Flag) {
        if (text == "on" || text == "off") value = text == "on" ? f.mask : 0;
    } else if (f.kind == Kind::Bytes) {
        for (long code = 0; code < 8; ++code)
            if (text == std::to_string(128L << code)) value = code << shiftOf(f.mask);
    } else if (text.rfind("0x", 0) == 0) {
        value = parseHex(text.substr(2)).value_or(-1);
    }
    if (value < 0 || (value & ~f.mask)) return std::nullopt;
    return value;
}

// "0000:3a:00.0/00.0/08.0/00.0" from the device's place in sysfs; "" when it has none.
std::string pathFromRootPort(const std::string& busId) {
    const std::string rest = removeRealpathPrefix(getRealpathByBusId(busId));
    if (rest.empty()) return "";
    std::string path;
    for (const auto& piece : split(rest, '/')) {
        if (!isBusId(piece)) return "";
        path += path.empty() ? piece : "/" + piece.substr(8);
    }
    return path;
}

bool carries(const Field& f, char role) { return std::string(f.roles).find(role) != std::string::npos; }

bool hasAcs(const std::string& busId) {
    const std::optional<long> capability = probeRegister(busId, "ecap_acs+4.b");
    return capability && *capability != 0;
}

std::optional<ProfileDevice> readDevice(const std::string& busId, std::string& error) {
    ProfileDevice d;
    d.busId = busId;
    d.path = pathFromRootPort(busId);
    d.role = getPortType(busId);
    if (d.path.empty() || d.role == '\0') {
        error = "[" + busId + "]: cannot read its place in the PCIe topology";
        return std::nullopt;
    }
    std::map<std::string, long> registers;
    for (const Field& f : kFields) {
        if (!carries(f, d.role) || (f.kind == Kind::Hex && !hasAcs(busId))) continue;
        if (!registers.count(f.reg)) {
            const std::optional<long> value = probeRegister(busId, f.reg);
            if (!value) {
                error = "[" + busId + "]: cannot read " + f.reg;
                return std::nullopt;
            }
            registers[f.reg] = *value;
        }
        d.values.push_back({f.name, registers[f.reg] & f.mask});
    }
    return d;
}

std::string describeTopologyDifference(const Profile& wanted, const Profile& here) {
    for (const auto& w : wanted.devices) {
        const auto it = std::find_if(here.devices.begin(), here.devices.end(),
                                     [&](const ProfileDevice& h) { return h.path == w.path; });
        if (it == here.devices.end()) return w.path + " (" + roleName(w.role) + ") is not on this host";
        if (it->role != w.role)
            return w.path + " is a " + roleName(it->role) + " here, not a " + roleName(w.role);
    }
    for (const auto& h : here.devices) {
        const auto it = std::find_if(wanted.devices.begin(), wanted.devices.end(),
                                     [&](const ProfileDevice& w) { return w.path == h.path; });
        if (it == wanted.devices.end()) return h.path + " (" + h.busId + ") is not in the profile";
    }
    return "";
}

// Writes the fields of one register that differ, in one write, and reads the register back.
void applyRegister(const ProfileDevice& device, const std::string& reg, std::vector<ProfileChange>& changes) {
    const std::optional<long> current = probeRegister(device.busId, reg);
    if (!current) return;
    long next = *current;
    std::vector<ProfileChange> pending;
    for (const auto& v : device.values) {
        const Field* f = findField(v.field);
        if (!f || f->reg != reg || (*current & f->mask) == v.value) continue;
        next = (next & ~f->mask) | v.value;
        pending.push_back({device.busId, device.path, v.field, *current & f->mask, v.value, -1});
    }
    if (pending.empty()) return;
    setpci(device.busId, std::string(reg) + "=" + format("%lx", next), true);
    const std::optional<long> back = probeRegister(device.busId, reg);
    for (auto& c : pending) {
        if (back) c.after = *back & findField(c.field)->mask;
        changes.push_back(c);
    }
}

// The live GPUs, found without enabling them: a profile only reads and writes what it names.
BusIdSet liveGpus() {
    report::StdoutToStderr quiet;
    EnumDevice device;
    device.initPciDevice(false);
    return device.getAllBusIdSet();
}

int fail(const std::string& message) {
    std::fprintf(stderr, "gputuner: %s\n", message.c_str());
    return 2;
}

// Root and setpci are needed for every register read; checked before anything is read.
std::string preconditionError() {
    if (!host::isRoot()) return "requires root privileges";
    if (!host::programOnPath("setpci")) return "setpci not found, please install pciutils";
    return "";
}

}  // namespace

Profile readProfile(const BusIdSet& gpus, std::string& error) {
    Profile profile;
    for (const auto& busId : getPathUnion(gpus)) {
        std::optional<ProfileDevice> device = readDevice(busId, error);
        if (!device) return {};
        profile.devices.push_back(*device);
    }
    std::sort(profile.devices.begin(), profile.devices.end(),
              [](const ProfileDevice& a, const ProfileDevice& b) { return a.path < b.path; });
    return profile;
}

std::string renderProfile(const Profile& profile) {
    std::string text = "# PCIe settings saved by gputuner --save-profile; gputuner --apply-profile restores them.\n"
                       "# path from the root port, role, settings, and the bus ID it had when saved.\n";
    text += std::string(kHeader) + "\n";
    for (const auto& d : profile.devices) {
        text += d.path + " " + roleName(d.role);
        for (const auto& v : d.values) text += " " + v.field + "=" + valueText(*findField(v.field), v.value);
        text += "  # " + d.busId + "\n";
    }
    return text;
}

Profile parseProfile(const std::string& text, std::string& error) {
    Profile profile;
    std::istringstream in(text);
    std::string line;
    bool headerSeen = false;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        std::istringstream words(line.substr(0, line.find('#')));
        std::string path, role;
        if (!(words >> path)) continue;
        if (!headerSeen) {
            std::string version;
            words >> version;
            if (path + " " + version != kHeader) {
                error = where + "not a gputuner PCIe profile (expected \"" + kHeader + "\")";
                return {};
            }
            headerSeen = true;
            continue;
        }
        ProfileDevice d;
        d.path = path;
        if (!(words >> role) || !(d.role = roleDigit(role))) {
            error = where + "unknown role \"" + role + "\"";
            return {};
        }
        for (std::string word; words >> word;) {
            const size_t eq = word.find('=');
            const Field* f = findField(word.substr(0, eq));
            const std::optional<long> value =
                f && eq != std::string::npos ? parseValue(*f, word.substr(eq + 1)) : std::nullopt;
            if (!value) {
                error = where + "cannot read \"" + word + "\"";
                return {};
            }
            d.values.push_back({f->name, *value});
        }
        profile.devices.push_back(d);
    }
    if (!headerSeen) error = "empty file, not a gputuner PCIe profile";
    return profile;
}

ApplyResult applyProfile(const Profile& wanted, const BusIdSet& gpus) {
    ApplyResult result;
    const Profile here = readProfile(gpus, result.error);
    if (!result.error.empty()) return result;
    const std::string difference = describeTopologyDifference(wanted, here);
    if (!difference.empty()) {
        result.error = "the profile was saved on a different PCIe topology: " + difference + "; nothing written";
        return result;
    }
    for (ProfileDevice device : wanted.devices) {
        for (const auto& h : here.devices)
            if (h.path == device.path) device.busId = h.busId;
        std::vector<std::string> registers;
        for (const auto& v : device.values) {
            const std::string reg = findField(v.field)->reg;
            if (std::find(registers.begin(), registers.end(), reg) == registers.end()) registers.push_back(reg);
        }
        for (const auto& reg : registers) applyRegister(device, reg, result.changes);
    }
    return result;
}

std::string renderApplyReport(const ApplyResult& result) {
    std::string text;
    int failed = 0;
    for (const auto& c : result.changes) {
        const Field& f = *findField(c.field);
        text += "[" + c.busId + "] " + c.path + " " + f.label + ": " + valueText(f, c.before) + " -> " +
                valueText(f, c.wanted);
        if (!c.ok()) {
            text += c.after < 0 ? ", cannot be read back" : ", reads back " + valueText(f, c.after);
            ++failed;
        }
        text += "\n";
    }
    if (result.changes.empty())
        text += "PCIe profile: the host matches, nothing written.\n";
    else if (failed == 0)
        text += "PCIe profile: " + std::to_string(result.changes.size()) + " value(s) changed, all read back.\n";
    else
        text += "PCIe profile: " + std::to_string(failed) + " of " + std::to_string(result.changes.size()) +
                " value(s) did not read back as written.\n";
    return text;
}

int saveProfileCommand(const std::string& file) {
    if (const std::string why = preconditionError(); !why.empty()) return fail(why);
    const BusIdSet gpus = liveGpus();
    if (gpus.empty()) return fail("no Quelvan GPU found, no profile saved");
    std::string error;
    const Profile profile = readProfile(gpus, error);
    if (!error.empty()) return fail(error + ", no profile saved");
    // Written atomically, so a boot never reads half a profile.
    if (!report::writeFileAtomically(file, renderProfile(profile), &error)) return fail(error);
    std::printf("PCIe profile of %zu devices (%zu GPUs) saved to %s\n", profile.devices.size(), gpus.size(),
                file.c_str());
    return 0;
}

int applyProfileCommand(const std::string& file) {
    if (const std::string why = preconditionError(); !why.empty()) return fail(why);
    std::ifstream in(file);
    if (!in) return fail("cannot read " + file);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    const Profile wanted = parseProfile(text.str(), error);
    if (!error.empty()) return fail(file + ": " + error);
    const ApplyResult result = applyProfile(wanted, liveGpus());
    if (!result.error.empty()) return fail(result.error);
    const std::string report = renderApplyReport(result);
    std::fputs(report.c_str(), stdout);
    for (const auto& c : result.changes)
        if (!c.ok()) return 1;
    return 0;
}
