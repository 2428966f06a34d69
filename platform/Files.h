// Whole-file reads and writes. A write either replaces the file with the complete new contents
// or fails and leaves the old file exactly as it was: the bytes go to a temporary file in the
// same folder, are flushed to the disk unless the write is unsynced, and only then take the old
// file's name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

// File error codes of the platform's error domain (kCocoaErrorDomain), as its callers know them.
enum FileErrorCode : long {
    kFileNoSuchFileError = 4,
    kFileReadUnknownError = 256,
    kFileReadNoPermissionError = 257,
    kFileReadCorruptFileError = 259,
    kFileReadNoSuchFileError = 260,
    kFileReadInapplicableStringEncodingError = 261,
    kFileWriteUnknownError = 512,
    kFileWriteNoPermissionError = 513,
    kFileWriteOutOfSpaceError = 640,
    kFileWriteVolumeReadOnlyError = 642,
};

// The user-information key that names the file an error is about.
inline constexpr const char* kFilePathErrorKey = "NSFilePath";

namespace Files {

// Who may read a written file: files holding tokens or identifiers are the owner's alone.
enum class Access { kOwnerOnly, kShared };

std::optional<Bytes> read(const std::filesystem::path& path, Error* error = nullptr);

// Whether a write waits until the disk holds it. Synced writes survive a power cut; an unsynced
// one may be lost or come back empty after one (never half old, half new while the system
// runs), and costs no wait for the disk: for caches, whose readers take a missing or empty
// file for a miss.
enum class Durability { kSynced, kUnsynced };

// Replaces the file whole or not at all. The folder must exist.
bool writeAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> data,
                     Error* error = nullptr, Access access = Access::kOwnerOnly,
                     Durability durability = Durability::kSynced);

// An error of the platform's domain for a failed system call, with the POSIX error beneath it.
Error errorFromErrno(int errnoValue, bool writing, const std::filesystem::path& path,
                     const std::string& what);

}  // namespace Files
}  // namespace platform
