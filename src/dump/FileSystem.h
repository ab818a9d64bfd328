#pragma once

#include <QFile>
#include <QString>
#include <QtGlobal>
#include <atomic>

// The few file-system operations the image store needs that differ between POSIX and Windows;
// each platform has one implementation file.
namespace tessaly::dump::platform {

// The steps a stored image's survival of a power cut rests on.
enum class DiskStep { SyncFile, ReplaceFile, SyncDirectory };

// Told of each such step as the platform's file is about to take it; a step it refuses fails as
// if the disk had failed it. Only tests set one, to see the steps' order or to make one fail.
using DiskStepWatcher = bool (*)(DiskStep);
inline std::atomic<DiskStepWatcher> diskStepWatcher = nullptr;

inline bool diskTakes(DiskStep step) {
    const DiskStepWatcher watcher = diskStepWatcher;
    return !watcher || watcher(step);
}

// Holds the directory's lock while it lives: two runs storing into one directory take turns, so
// that they never both keep, or both miss, the same earlier file.
class DirectoryLock {
public:
    explicit DirectoryLock(const QString& directory);
    ~DirectoryLock();
    Q_DISABLE_COPY(DirectoryLock)

    // Makes the directory's new entries survive a power cut; returns why not, empty when done.
    QString syncEntries() const;

private:
    qintptr handle_;
};

// Puts what was written to `file` on the disk itself, so that a power cut cannot take it back;
// returns why not, empty when done.
QString syncToDisk(QFile& file);

// Why no file can be created in the existing directory `directory`; empty when one can.
QString whyNotWritable(const QString& directory);

// Whether the existing directory `directory` was removed while still in use (as a process's
// working directory): it can be looked into but takes no new files.
bool isDeleted(const QString& directory);

// Whether `link` must not be followed: in a shared (sticky, world-writable) directory, a link
// that belongs neither to us nor to the directory's owner may have been planted to make us
// overwrite its target.
bool isPlantedLink(const QString& link);

enum class Linking { Linked, NameTaken, Unsupported };
// Gives `existing` the second name `name` without copying; never replaces a taken name.
Linking linkFile(const QString& existing, const QString& name);

// Puts `from` in place of `to` in one step, never writing through a link at `to`; returns why
// not, empty when done.
QString replaceFile(const QString& from, const QString& to);

}  // namespace tessaly::dump::platform
