#include "device_access.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host.h"

namespace fs = std::filesystem;

void printRedError(const std::string& msg) {
    std::printf("%sERROR: ", "\033[31m");
    std::fputs(msg.c_str(), stdout);
    std::fputs("\033[0m", stdout);
}

char* cmdResult(const std::string& cmd, char* out, size_t size) {
    FILE* pipe = host::openCommand(cmd);
    if (!pipe) {
        std::perror("popen");
        return nullptr;
    }
    char line[256];
    size_t total = 0;
    size_t used = 0;
    while (std::fgets(line, sizeof line, pipe)) {
        const size_t len = std::strlen(line);
        total += len;
        if (total >= size) {
            out[size - 1] = '\0';
            break;
        }
        std::memcpy(out + used, line, len);
        used += len;
    }
    // Read to the end so the command never dies of a closed pipe.
    while (std::fgets(line, sizeof line, pipe)) {
    }
    if (host::closeCommand(pipe) == -1) std::perror("pclose");
    out[used] = '\0';
    return out;
}

std::string commandOutput(const std::string& cmd, size_t size) {
    if (cmd.empty() || size == 0) return "";
    std::vector<char> out(size, '\0');
    return cmdResult(cmd, out.data(), size) ? std::string(out.data()) : "";
}

bool isBusId(const std::string& text) {
    // dddd:bb:dd.f
    if (text.size() != 12) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = (i == 4 || i == 7) ? c == ':' : i == 10 ? c == '.' : std::isxdigit(static_cast<unsigned char>(c));
        if (!ok) return false;
    }
    return true;
}

std::string setpciCommand(const std::string& busId, const std::string& op, bool quiet) {
    if (!isBusId(busId)) return "";
    return "setpci -s " + busId + " " + op + (quiet ? " 2>/dev/null" : "");
}

std::string lspciDowngradedCommand(const std::string& busId) {
    if (!isBusId(busId)) return "";
    return "lspci -vvvs " + busId + " | grep -i downgraded 2>/dev/null";
}

std::string setpci(const std::string& busId, const std::string& op, bool quiet) {
    return commandOutput(setpciCommand(busId, op, quiet), 64);
}

std::optional<long> parseHex(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const long value = std::strtol(begin, &end, 16);
    // strtol also takes a sign or "0x"; setpci prints bare digits, so demand one up front.
    size_t first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    if (end == begin || first == text.size() || !std::isxdigit(static_cast<unsigned char>(text[first])))
        return std::nullopt;
    return value;
}

std::optional<long> readRegister(const std::string& busId, const std::string& reg, bool quiet) {
    const std::optional<long> value = parseHex(setpci(busId, reg, quiet));
    if (!value) std::printf("[%s] Cannot read %s, skipped.\n", busId.c_str(), reg.c_str());
    return value;
}

std::optional<long> probeRegister(const std::string& busId, const std::string& reg) {
    return parseHex(setpci(busId, reg, true));
}

bool pciDeviceResponds(const std::string& busId) {
    // A function that does not answer reads all ones; one that gives no answer at all is
    // treated the same way, so nothing is written to it.
    for (const char* reg : {"VENDOR_ID", "DEVICE_ID"}) {
        const std::string out = commandOutput(setpciCommand(busId, reg, false), 256);
        if (out.find("ffff") != std::string::npos || !parseHex(out)) return false;
    }
    return true;
}

bool enablePciDevice(const std::string& busId) {
    if (!pciDeviceResponds(busId)) return false;
    commandOutput(setpciCommand(busId, "COMMAND=0x06", false), 256);
    commandOutput(setpciCommand(busId, "CAP_PM+4.w=8", false), 256);
    return true;
}

uint64_t getDeviceBaseBar0(const std::string& busId) {
    const std::string path = host::pciDeviceFile(busId, "config");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::printf("Failed to open firmware file, %s\n", path.c_str());
        return 0;
    }
    unsigned char bytes[8] = {};
    if (!in.seekg(0x10) || !in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return 0;
    return bar0FromConfig(bytes);
}

uint64_t bar0FromConfig(const unsigned char bytes[8]) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return value & ~uint64_t{0xf};
}

std::optional<uint32_t> stringToUint32_t(const std::string& text) {
    std::istringstream in(text);
    uint32_t value = 0;
    if (!(in >> std::hex >> value)) return std::nullopt;
    return value;
}

bool iommuState(const std::string& busId) {
    std::error_code ec;
    return fs::exists(host::pciDeviceFile(busId, "iommu"), ec);
}

std::string getRealpathByBusId(const std::string& busId) {
    std::error_code ec;
    const fs::path path = fs::canonical(host::pciDevicesDir() + busId, ec);
    return ec ? "" : path.string();
}

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t pos; (pos = text.find(delimiter, start)) != std::string::npos; start = pos + 1)
        pieces.push_back(text.substr(start, pos - start));
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string removeRealpathPrefix(const std::string& path) {
    const size_t prefix = host::devicesDir().size() + std::strlen("pci0000:00/");
    return path.size() < prefix ? "" : path.substr(prefix);
}

BusIdSet getTopologyBusIdSet(const std::string& path) {
    BusIdSet ids;
    const std::string rest = removeRealpathPrefix(path);
    if (rest.empty()) return ids;
    for (const auto& piece : split(rest, '/'))
        if (!piece.empty()) ids.insert(piece);
    return ids;
}

BusIdSet getPathUnion(const BusIdSet& gpus) {
    BusIdSet all;
    for (const auto& gpu : gpus) all.merge(getTopologyBusIdSet(getRealpathByBusId(gpu)));
    return all;
}

namespace {

// The whole text of a (small) sysfs file; nothing when it cannot be read.
std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string firstWord(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    in >> word;
    return word;
}

std::optional<std::string> firstLine(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text.substr(0, text.find('\n'));
}

std::string linkReportText(const std::string& answer) {
    size_t start = 0;
    while (start < answer.size() && start < 64 && (answer[start] == ' ' || answer[start] == '\t')) ++start;
    return answer.substr(start);
}

std::string readFirstWord(const std::string& path) {
    return firstWord(readText(path).value_or(""));
}

std::string getNumaNode(const std::string& busId) {
    const std::string word = readFirstWord(host::pciDeviceFile(busId, "numa_node"));
    return word.empty() ? "x" : word;
}

std::string getLocalCPUList(const std::string& busId) {
    const std::optional<std::string> text = readText(host::pciDeviceFile(busId, "local_cpulist"));
    return text ? firstLine(*text).value_or("x") : "x";
}

char getPortType(const std::string& busId) {
    return portTypeFromAnswer(setpci(busId, "CAP_EXP.l", true));
}

char portTypeFromAnswer(const std::string& answer) {
    return answer.size() >= 3 ? answer[2] : '\0';
}
