// ostrel-driver-installer: installs the Ostrel GPU driver package it is shipped in.
#include "installer/driver/driver_entry.h"

int main(int argc, char** argv) { return driver_installer_main(argc, argv); }
