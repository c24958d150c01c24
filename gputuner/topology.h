// PCIe topology view: one line per GPU from its root port down through the switch ports, with
// devices that an earlier line showed replaced by blanks and tree connectors between siblings.
#pragma once

#include <string>

#include "device_access.h"

// Prints the view for level "v", "vv" or "vvv"; false (and nothing but a message) otherwise.
bool showTopo(BusIdSet set, const std::string& level);

std::string devicePathRecursiveTraversal(const std::string& path, const std::string& accumulated, BusIdSet all,
                                         BusIdSet shown, int level);
std::string getTopologyStr(const std::string& path, BusIdSet all, BusIdSet shown, int level);
std::string getRootPortString(const std::string& path, int level, BusIdSet all, BusIdSet shown);
std::string getUpstreamPortString(const std::string& path, int level, BusIdSet all, BusIdSet shown);
std::string getDownstreamPortString(const std::string& path, int level, BusIdSet all, BusIdSet shown);
std::string getDownstreamPortLinkString(const std::string& path, BusIdSet all, bool alreadyShown);
std::string getGPUString(const std::string& path, int level);
std::string printBlankLine(const std::string& line);
BusIdSet getUpstreamPortTopoBusIdSet(const std::string& upstreamPath, BusIdSet all);
