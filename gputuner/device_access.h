// Device-access layer: shell commands and their output, the liveness test and enable of a GPU,
// per-device sysfs readers, the PCI path of a device and hexadecimal conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

using BusIdSet = std::set<std::string>;

// printf into a string, for the short texts and setpci operands the tuner builds.
template <typename... Args>
std::string format(const char* fmt, Args... args) {
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// Prints msg between the red "ERROR: " prefix and the colour reset, on standard output.
void printRedError(const std::string& msg);

// Runs cmd through the shell and copies its output into out, whole lines only, never more
// than size - 1 characters. Returns out, or nullptr when the command could not be started.
char* cmdResult(const std::string& cmd, char* out, size_t size);
// cmdResult into a buffer of `size` bytes; "" when the command printed nothing or did not start.
std::string commandOutput(const std::string& cmd, size_t size);

// True for a bus ID of the form dddd:bb:dd.f in hexadecimal; nothing else reaches a shell.
bool isBusId(const std::string& text);
// The only places where the tuner's command lines are built. They are "" for a text that is
// not a bus ID, and such a command is never run.
std::string setpciCommand(const std::string& busId, const std::string& op, bool quiet);
std::string lspciDowngradedCommand(const std::string& busId);

// Runs setpci on busId with op (a read or a write) and returns its output, 64-byte buffer.
std::string setpci(const std::string& busId, const std::string& op, bool quiet);
// Reads a register through setpci and parses it as hexadecimal. When setpci gives no number
// (capability missing, device gone) it prints one line naming the device and returns nothing.
std::optional<long> readRegister(const std::string& busId, const std::string& reg, bool quiet);
// The same read without any output, for the read-only state readers (--check, --json, profiles).
std::optional<long> probeRegister(const std::string& busId, const std::string& reg);
// Base-16 conversion of setpci output: leading blanks skipped, stops at the first non-digit.
std::optional<long> parseHex(const std::string& text);

// Reads the vendor and device ID; false when the function does not answer. Writes nothing.
bool pciDeviceResponds(const std::string& busId);
// pciDeviceResponds, then memory decoding, bus mastering and power state D0.
bool enablePciDevice(const std::string& busId);
uint64_t getDeviceBaseBar0(const std::string& busId);
// Hexadecimal text ("0x" accepted) to a number; nothing when the text holds no hex digits
// ("Invalid hexadecimal string").
std::optional<uint32_t> stringToUint32_t(const std::string& text);
bool iommuState(const std::string& busId);

// Canonical sysfs path of a device, "" when it does not exist.
std::string getRealpathByBusId(const std::string& busId);
std::vector<std::string> split(const std::string& text, char delimiter);
// The path without "/sys/devices/pciDDDD:BB/"; "" when the path is too short for that.
std::string removeRealpathPrefix(const std::string& path);
BusIdSet getTopologyBusIdSet(const std::string& path);
// Union of the PCI paths of all GPUs of the set.
BusIdSet getPathUnion(const BusIdSet& gpus);

std::string getNumaNode(const std::string& busId);
std::string getLocalCPUList(const std::string& busId);
// First whitespace-delimited word of a file, "" when it cannot be read.
std::string readFirstWord(const std::string& path);
// The readers of the file texts above: the first whitespace-delimited word ("" when none), and
// the first line (nothing for an empty text).
std::string firstWord(const std::string& text);
std::optional<std::string> firstLine(const std::string& text);
// The part of an lspci answer line the link check prints: from its first non-blank character
// (at most 64 blanks skipped).
std::string linkReportText(const std::string& answer);

// Device/Port Type digit of the PCI Express capability ('0' endpoint, '4' root port, '5' switch
// upstream port, '6' switch downstream port), '\0' when setpci gives no answer.
char getPortType(const std::string& busId);
// The same digit from setpci's answer to "CAP_EXP.l".
char portTypeFromAnswer(const std::string& answer);
// BAR0's base address from the 8 bytes of configuration space at 0x10 (BAR0 and BAR1,
// little-endian), the type flags cleared.
uint64_t bar0FromConfig(const unsigned char bytes[8]);
