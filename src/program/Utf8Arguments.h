#pragma once

#include <QString>

namespace tessaly::program {

// The first argument that is not valid UTF-8, described for the user in a sentence without its
// period (with the option it belongs to); empty when all are. Such names reach Qt altered, so
// they cannot be carried to the system intact and could lead to a look-alike file or folder.
QString describeNonUtf8Argument(int argc, const char* const* argv);

}  // namespace tessaly::program
