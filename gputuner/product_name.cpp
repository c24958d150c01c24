// Product names: Quelvan GPUs carry no name string, so it follows from the device ID and the
// model fields of the board configuration register.

#include "enum_device.h"

namespace {

// LN-family names by model code when the variant word is 0; "" means "LN-%X".
const char* const kLnNames[32] = {
    "LN-K10",    "LN-K5",     "LN-K5A-16", "AQ-K15",     "LN-K3A-8",     "LN-K5-32", "",        "LN-K5-16D",
    "AQ-K15OAM", "AQ-K15X",   "AQ-K15S",   "LN-K5A-32",  "LN-K5-DUO",    "LN-K10-DUO", "",      "AQ-K15Z",
    "AQ-K15OAM-PA", "",       "",          "AQ-K15",     "",             "",         "",        "",
    "",          "",          "AQ-K15S",   "",           "LN-K5-DUO",    "",         "",        "",
};

}  // namespace

std::string getLNSeriesProductName(uint32_t deviceId, uint32_t variantWord, uint32_t modelCode,
                                   uint32_t subModelCode) {
    if (deviceId == 2 && variantWord != 0) return format("LNC-K10-%X", modelCode);
    if (deviceId == 3 && variantWord != 0)
        return static_cast<int32_t>(variantWord) == -2 ? "AQ-K15-C" : format("AQ-K15-%X", modelCode);
    if (variantWord != 0) return "";
    if (modelCode == 29) return subModelCode == 1 ? "LN-K10" : subModelCode == 2 ? "LN-K5" : "LN-SOCKET";
    if (modelCode < 32 && kLnNames[modelCode][0] != '\0') return kLnNames[modelCode];
    return format("LN-%X", modelCode);
}

std::string getDeviceProductName(uint32_t deviceId, uint32_t variantWord, uint32_t modelFlag,
                                 uint32_t modelCode, uint32_t subModelCode) {
    switch (deviceId) {
    case 0x0001:
        return subModelCode >= 4 ? "AQ-K10" : "AQ-K10-CD";
    case 0x0002:
    case 0x0003:
    case 0x0007:
    case 0x000B:
    case 0x000F:
        return getLNSeriesProductName(deviceId, variantWord, modelCode, subModelCode);
    case 0x0103:
        return "HS-K10X";
    case 0x0210:
        return modelFlag == 1 ? "PW-K20" : "PW-K20OAM";
    default:
        return "";
    }
}
