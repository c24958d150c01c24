#include "enum_device.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "host.h"

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kQuelvanVendorId = QUELVAN_VENDOR_ID;

// Byte offsets of the board registers in BAR2; 0 means "not read".
struct BoardRegisters {
    uint32_t config, idLow, idHigh, date, partNumber, firmware, variant, partNumber2;
};

BoardRegisters boardRegisters(const std::string& deviceId) {
    if (deviceId == "0x0001") return {0x80a0, 0x9060, 0x918c, 0x781c, 0x9184, 0x707c, 0, 0};
    if (deviceId == "0x0210") return {0x72c0, 0x72d8, 0x72dc, 0x72c4, 0x72d0, 0x72a8, 0, 0};
    return {0x78c0, 0x78d8, 0x78dc, 0x78c4, 0x78d0, 0x78a8, 0x78f8, deviceId == "0x0103" ? 0x78f0u : 0u};
}

RegisterValues readBoardRegisters(const std::string& busId, const std::string& deviceId) {
    RegisterValues v;
    const std::string region2 = host::pciDeviceFile(busId, "region2");
    const std::string resource2 = host::pciDeviceFile(busId, "resource2");
    std::error_code ec;
    const int fd = open(fs::exists(region2, ec) ? region2.c_str() : resource2.c_str(), O_RDWR);
    if (fd < 0) std::printf("Error: Failed to open %s\n", resource2.c_str());
    struct stat st {};
    void* map = MAP_FAILED;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0)
        map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        std::printf("Please load vtn_dbg.ko first and try again.\n");
    } else {
        v = registersFromWindow(map, static_cast<size_t>(st.st_size), deviceId);
        munmap(map, static_cast<size_t>(st.st_size));
    }
    if (fd >= 0) close(fd);
    return v;
}

}  // namespace

RegisterValues registersFromWindow(const void* window, size_t size, const std::string& deviceId) {
    // A window smaller than the register table reads 0 beyond its end instead of faulting.
    const auto word = [&](uint32_t offset) -> uint32_t {
        if (offset == 0 || offset + 4 > size) return 0;
        return *reinterpret_cast<const volatile uint32_t*>(static_cast<const char*>(window) + offset);
    };
    const BoardRegisters r = boardRegisters(deviceId);
    return {word(r.config), word(r.idLow),   word(r.idHigh),  word(r.date),
            word(r.partNumber), word(r.firmware), word(r.variant), word(r.partNumber2)};
}

void fillBoardRecord(ZuBoard& board, const RegisterValues& r) {
    board.subModelCode = r.config & 7;
    board.modelCode = (r.config >> 25) & 0x1f;
    board.modelFlag = (r.config >> 24) & 1;
    board.variantWord = r.variant;
    const std::optional<uint32_t> deviceNumber = stringToUint32_t(board.deviceId);
    if (!deviceNumber) std::printf("[%s]: Invalid hexadecimal string\n", board.busId.c_str());
    board.productName = getDeviceProductName(deviceNumber.value_or(0), board.variantWord, board.modelFlag,
                                             board.modelCode, board.subModelCode);
    board.idCode = format("%06X%08X", r.idHigh & 0xffffff, r.idLow);
    board.dateCode = format("%04d%02d%02d", r.date >> 16, (r.date >> 8) & 0xff, r.date & 0xff);
    board.partNumber = board.deviceId == "0x0103" ? format("%08X%08X", r.partNumber, r.partNumber2)
                                                  : format("%08X", r.partNumber);
    board.firmwareVersion = format("%d.%d.%d", r.firmware >> 24, (r.firmware >> 8) & 0xffff, r.firmware & 0xff);
}

EnumDevice::~EnumDevice() {
    for (ZuBoard* board : boards) delete board;
}

void EnumDevice::initPciDevice() {
    const std::string vendorText = format("0x%04x", kQuelvanVendorId);
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(host::pciDevicesDir(), ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const auto& path : entries) {
        const fs::path vendor = path / "vendor", device = path / "device";
        if (!fs::exists(vendor, ec) || !fs::exists(device, ec)) continue;
        const std::string busId = path.filename().string();
        if (!isBusId(busId)) continue;
        if (readFirstWord(vendor) != vendorText || readFirstWord(device) == "0x0212") continue;
        if (!fs::exists(path / "resource0", ec) || !fs::exists(path / "resource2", ec)) {
            printRedError(format("[%s]: Insufficient or unassigned BAR address.\n", busId.c_str()));
            continue;
        }
        if (!enablePciDevice(busId)) {
            printRedError(format("[%s]: GPU OFFLINE.\n\n", busId.c_str()));
            continue;
        }
        busIdSet.insert(busId);
    }
}

std::vector<ZuBoard*> EnumDevice::getAllBoards() {
    for (const auto& busId : busIdSet) {
        auto* board = new ZuBoard;
        board->busId = busId;
        board->deviceId = readFirstWord(host::pciDeviceFile(busId, "device"));
        fillBoardRecord(*board, readBoardRegisters(busId, board->deviceId));
        board->bar0Base = getDeviceBaseBar0(busId);
        boards.push_back(board);
    }
    return boards;
}

std::string EnumDevice::getProductName(const std::string& busId) const {
    std::string name;
    for (const ZuBoard* board : boards)
        if (board->busId == busId)
            name = getDeviceProductName(stringToUint32_t(board->deviceId).value_or(0), board->variantWord,
                                        board->modelFlag, board->modelCode, board->subModelCode);
    return name;
}

void listGPUInfo(BusIdSet busIds, const EnumDevice* device) {
    const std::string rule(70, '-');
    std::printf("%s\n", rule.c_str());
    std::printf("%-3s | %-15s | %-11s | %-15s | %s\n", "NUM", "DEVICE", "PRODUCT", "NUMA_Affinity", "CPU_Affinity");
    std::printf("%s\n", rule.c_str());
    int index = 0;
    for (const auto& busId : busIds) {
        std::printf(" %-2d | %-15s | %-11s | %-15s | %s\n", index++, busId.c_str(),
                    device->getProductName(busId).c_str(), getNumaNode(busId).c_str(),
                    getLocalCPUList(busId).c_str());
    }
    std::printf("%s\n", rule.c_str());
}
