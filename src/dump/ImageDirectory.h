#pragma once

#include <QString>

// Whether a directory can take the image: the one check behind the image store, the command
// line's targets and the window's folder.
namespace tessaly::dump {

struct DirectoryCheck {
    enum class Problem { None, Missing, NotADirectory, NotWritable };
    Problem problem = Problem::None;
    QString directory;     // as checked, with the platform's separators
    QString systemReason;  // the system's words for NotWritable

    bool usable() const { return problem == Problem::None; }
    // "the directory /x does not exist", "/x is not a directory", "the directory /x is
    // read-only (Permission denied)"; empty when usable.
    QString reason() const;
};

DirectoryCheck checkImageDirectory(const QString& directory);

}  // namespace tessaly::dump
