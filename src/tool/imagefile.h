#pragma once

#include "core/imagecheck.h"

#include <QString>

// Looks at the file a user picked, links followed, without opening it: only
// an existing, readable, regular file of 1 byte to 256 MiB is an image. A
// FIFO or a device would hold the tool, or feed it endless bytes, mid-flash.
ImageCheck checkImageFile(const QString &path);

// A copy of the image in a folder of its own that only this user can enter,
// under the same file name, so that the tool reads a file nobody changes or
// pulls out while it flashes. The source is checked again as it is opened.
struct ImageCopy {
    ImageCheck check;
    QString path;   // the copy, when check.ok()
    QString folder; // the private folder that holds it
    qint64 size = 0;
    QString sha256; // of the copy, lower-case hex, computed as it is written
};
ImageCopy copyImage(const QString &source, const QString &baseDirectory);
// Removes the copy and its folder.
void removeImageCopy(const ImageCopy &copy);

// What is wrong, in English, for the log: "is not a regular file".
QString describeImageProblem(const ImageCheck &check);
