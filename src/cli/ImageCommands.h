#pragma once

#include <QString>

#include "cli/Console.h"

// What a technician asks of images already on disk: kept copies, files from elsewhere.
namespace tessaly::cli {

// Every byte in which A and B differ (offset, A's byte, B's byte in hex), then their count; with
// `json` one object instead. Files of different sizes are said to be so and their common part
// compared. Returns 0 when identical, 1 otherwise; throws a Refusal when a file cannot be read.
int compareImages(const QString& pathA, const QString& pathB, bool json, Console& console);

// The file's listing as a dump prints it, then the data's sum and SHA-256. Returns 0; throws a
// Refusal when the file cannot be read.
int showImage(const QString& path, Console& console);

}  // namespace tessaly::cli
