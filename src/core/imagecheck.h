#pragma once

#include <QString>

// The largest file taken as a firmware image.
inline constexpr qint64 MaxImageBytes = 256LL * 1024 * 1024;

// Why a file cannot go to the firmware tool: found in tool/, told to the
// user from text/.
enum class ImageProblem {
    None,
    Missing,    // nothing there, or a link to nothing
    NotAFile,   // a folder, a device such as /dev/zero, a FIFO, a socket
    Unreadable, // with the system's reason
    Empty,
    TooLarge,   // more than MaxImageBytes
    CopyFailed, // the private copy could not be made, with the system's reason
};

struct ImageCheck {
    ImageProblem problem = ImageProblem::None;
    QString reason; // the system's words, for Unreadable and CopyFailed
    bool ok() const { return problem == ImageProblem::None; }
};
