#pragma once

#include <QString>

// How tessaly-dump ends, for scripts; the help and the README list the same table.
namespace tessaly::cli {

enum ExitStatus {
    kSavedAndVerified = 0,
    kChecksumMismatch = 1,
    kImagesDiffer = 1,     // --compare
    kLoopbackChanged = 1,  // --check-port: bytes came back changed
    kPortNotOpened = 2,
    kBoxSilent = 3,
    kLinkOrFileFailed = 4,
    kReadsDisagree = 5,
    kSavedNotVerified = 6,
    kBadUsage = 64,
    kShortOfResources = 71,
    kOutputLost = 74,  // stdout could not be written: the record or listing is missing
};

// Stop signals end a run with 128 + the signal's number.
inline bool wasStopped(int exitStatus) { return exitStatus > 128; }

// Why the command cannot start, in one sentence, and the status to end with.
struct Refusal {
    QString sentence;
    int exitStatus;
};

// Every usage error has one form: the sentence, without its period, then the way to the usage.
inline Refusal usageError(const QString& sentence) {
    return {sentence + QStringLiteral(". Try --help."), kBadUsage};
}

inline constexpr char kExitStatusHelp[] =
    "Exit status (with several ports: 0 when every box succeeded, otherwise the highest):\n"
    "  0    dump saved and checksum matched (with --verify: two reads agreed)\n"
    "  1    dump saved but the checksum did not match (--compare: the images differ;\n"
    "       --check-port: bytes came back changed)\n"
    "  2    the port could not be opened (or the simulated box could not start)\n"
    "  3    the box did not answer in time (--check-port: nothing came back)\n"
    "  4    the link was lost or the file could not be written (no file written), or a\n"
    "       file to compare or show could not be read\n"
    "  5    --verify: no two reads agreed, or all agreed with a wrong checksum (no file\n"
    "       written)\n"
    "  6    --verify: one good read saved, not verified (the box stopped answering)\n"
    "  64   bad usage\n"
    "  71   too few file descriptors for the ports (no box asked)\n"
    "  74   stdout could not be written: the listing or JSON record is missing (the\n"
    "       stderr line gives the status it replaced)\n"
#ifdef _WIN32
    "  130  stopped by Ctrl-C, Ctrl-Break or closing the console window\n"
#else
    "  129  stopped by SIGHUP (the terminal closed)\n"
    "  130  stopped by SIGINT (Ctrl-C)\n"
    "  143  stopped by SIGTERM\n"
#endif
    "       (stopped: the port is closed, nothing acknowledged, no file written)\n";

}  // namespace tessaly::cli
