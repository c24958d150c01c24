// The driver-mode entry of the installer: the "Driver" command line, the log, and the engine's
// phases. ostrel-driver-installer's main is this function; tests call it after redirecting the
// host-access layer.
#pragma once

// Returns the exit status: the result code of the first failed phase, 0 when all passed, the
// parser's status for command-line errors.
int driver_installer_main(int argc, char** argv);
