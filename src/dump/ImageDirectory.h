#pragma once

#include <QString>

// Whether a directory can take the image: the one check behind the image store, the command
// line's targets and the window's folder.
namespace tessaly::dump {

class DirectoryCheck {
public:
    explicit DirectoryCheck(QString reason) : reason_(std::move(reason)) {}

    bool usable() const { return reason_.isEmpty(); }
    // "the directory /x does not exist", "/x is not a directory", "the directory /x is
    // read-only (Permission denied)"; empty when usable.
    QString reason() const { return reason_; }

private:
    QString reason_;
};

DirectoryCheck checkImageDirectory(const QString& directory);

}  // namespace tessaly::dump
