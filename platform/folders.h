// The folders the system places its files in.
#pragma once

#include <filesystem>

namespace pw {

/// The system drive: the root of the drive holding the system directory on
/// Windows ("C:\"); on Linux the folder named by PORTWICK_DRIVE, by default
/// ~/.local/share/portwick. Below it the settings live in Users/Public/Tessaly.
std::filesystem::path SystemDrive();

/// The temporary folder (GetTempPathW; $TMPDIR or /tmp on Linux).
std::filesystem::path TempFolder();

/// The folder of the running program.
std::filesystem::path ProgramFolder();

}  // namespace pw
