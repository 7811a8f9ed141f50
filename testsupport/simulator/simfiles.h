#pragma once

// Small POSIX file helpers shared by the simulator and the image generator.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvexsim {

struct FileContents {
    std::vector<std::uint8_t> bytes;
    int error = 0;        // errno-style; 0 on success
    std::string message;  // ready to show to a person when error != 0

    bool ok() const { return error == 0; }
};

// Refuses anything that is not a regular file and anything over maxBytes.
FileContents readWholeFile(const std::string& path, std::size_t maxBytes);

// Readers never see a half-written file: the data goes to a temporary file
// beside the target, which is then renamed over it. Returns an empty string on
// success, otherwise what went wrong.
std::string writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// Writes all of the bytes, retrying short and interrupted writes.
bool writeFully(int fd, std::string_view bytes);

}  // namespace talvexsim
