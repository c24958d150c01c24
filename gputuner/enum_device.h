// GPU enumeration: finds the Quelvan GPUs in sysfs, enables them, reads their board registers,
// names the products and prints the GPU table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_access.h"

// One GPU's board record, read from its BAR2 register window.
struct ZuBoard {
    std::string busId;
    std::string deviceId;  // first word of sysfs "device", e.g. "0x0001"
    std::string productName;
    std::string idCode;
    std::string partNumber;
    std::string dateCode;
    std::string firmwareVersion;
    uint32_t modelCode = 0;
    uint32_t modelFlag = 0;
    uint32_t variantWord = 0;
    uint32_t subModelCode = 0;
    uint64_t bar0Base = 0;
};

class EnumDevice {
public:
    EnumDevice() = default;
    ~EnumDevice();
    EnumDevice(const EnumDevice&) = delete;
    EnumDevice& operator=(const EnumDevice&) = delete;

    // Scans sysfs, enables every live GPU and fills the bus-ID set.
    void initPciDevice();
    // Reads the board registers of every GPU of the set; call once.
    std::vector<ZuBoard*> getAllBoards();
    BusIdSet getAllBusIdSet() const { return busIdSet; }
    std::string getProductName(const std::string& busId) const;

private:
    std::vector<ZuBoard*> boards;
    BusIdSet busIdSet;
};

// The register words of one GPU's BAR2 window; all 0 when it cannot be mapped.
struct RegisterValues {
    uint32_t config = 0, idLow = 0, idHigh = 0, date = 0, partNumber = 0, firmware = 0, variant = 0,
             partNumber2 = 0;
};
// Reads the board registers of deviceId's register table from a mapped window of size bytes.
RegisterValues registersFromWindow(const void* window, size_t size, const std::string& deviceId);
// The board fields that follow from the registers and the record's device ID.
void fillBoardRecord(ZuBoard& board, const RegisterValues& r);

std::string getDeviceProductName(uint32_t deviceId, uint32_t variantWord, uint32_t modelFlag,
                                 uint32_t modelCode, uint32_t subModelCode);
std::string getLNSeriesProductName(uint32_t deviceId, uint32_t variantWord, uint32_t modelCode,
                                   uint32_t subModelCode);

void listGPUInfo(BusIdSet busIds, const EnumDevice* device);
