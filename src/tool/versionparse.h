#pragma once

#include <QString>

#include <optional>

// The dock's firmware version in the tool's output, from the line
// "Composite dock image version: X" or, when the tool words it differently,
// from the last number-like word of a line mentioning "composite" and "version".
std::optional<QString> extractFirmwareVersion(const QString &output);
