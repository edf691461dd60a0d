#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace browsertest {

// Writes a file of `size` bytes whose last write lies `ageMinutes` in the past.
inline std::string MakeFile(const std::string& path, std::int64_t size, int ageMinutes = 0) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    testsupport::WriteFile(path, std::string(static_cast<std::size_t>(size), 'x'));
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(ageMinutes));
    return path;
}

// DOS-packed local date and time.
constexpr std::int32_t Packed(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(year - 1980) << 25) |
        (static_cast<std::uint32_t>(month) << 21) | (static_cast<std::uint32_t>(day) << 16) |
        (static_cast<std::uint32_t>(hour) << 11) | (static_cast<std::uint32_t>(minute) << 5) |
        static_cast<std::uint32_t>(second / 2));
}

}  // namespace browsertest
