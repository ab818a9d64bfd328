#pragma once

#include <QString>

// Whether a directory can take the image: the one check behind the image store, the command
// line's targets and the window's folder.
namespace tessaly::dump {

class DirectoryCheck {
public:
    DirectoryCheck(QString reason, bool current) : reason_(std::move(reason)), current_(current) {}

    bool usable() const { return reason_.isEmpty(); }
    // "the directory /x does not exist", "/x is not a directory", "the directory /x is
    // read-only (Permission denied)", "the current directory has been deleted"; empty when
    // usable.
    QString reason() const { return reason_; }
    // The directory was named as the current one ("", "." or "./"), so that changing to another
    // one is a way out.
    bool current() const { return current_; }

private:
    QString reason_;
    bool current_;
};

DirectoryCheck checkImageDirectory(const QString& directory);

}  // namespace tessaly::dump
