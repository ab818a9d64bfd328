#pragma once

#include <QString>
#include <vector>

#include "dump/DumpRun.h"
#include "dump/DumpSession.h"
#include "dump/ImageFile.h"

// The texts a dump writes to the log, shared by the window and the command line so that both
// show the same thing.
namespace tessaly::dump {

inline constexpr char kRequestLog[] = "sending request...\r\n";
inline constexpr char kChecksumErrorLog[] = "CRC Error!!!\r\n";
inline constexpr char kPortClosedLog[] = "\r\nSerial port closed.\r\n";

// How a stretch of the log stands out: a damaged dump, or a byte in which the kept earlier image
// differs. Each front end shows them in its own way.
enum class LogMark { Damage, Change };
struct LogStretch {
    qsizetype from;  // in the text, CR LF counted as it stands
    qsizetype length;
    LogMark mark;
};

// Text for the log with the stretches of it that stand out, in text order and apart.
struct MarkedLog {
    QString text;
    std::vector<LogStretch> stretches;

    MarkedLog& operator+=(const MarkedLog& more) {  // its stretches moved along
        for (const LogStretch& s : more.stretches)
            stretches.push_back({s.from + text.size(), s.length, s.mark});
        text += more.text;
        return *this;
    }
};

// The listing of the received data, its last line ended by the checksum error line on a mismatch
// or by a plain line end; empty when no complete reply arrived. The checksum error stands out, and
// so do the bytes in which the earlier image that the read's store kept differs.
MarkedLog dumpResultLog(const DumpRun::Result& result);

// The window names the first differing offsets and says on the checksum line of a damaged dump
// what the file holds; the command line keeps the lines that scripts know.
enum class Wording { Window, CommandLine };

// The result lines after the listing: the path written, the size, the checksum (the box's byte
// and the data's sum), the SHA-256 and what became of an earlier file; or "not saved" and why;
// nothing when storing was not tried. Each line ends in CR LF; the checksum line of a damaged dump
// stands out.
MarkedLog storedImageLog(const StoredImage& stored, const Reply& reply, Wording wording);

// "nothing arrived", or "12 bytes arrived: 48 45 4C 4C 4F 0D 0A ... ("HELLO..")" with the
// first bytes in hex and as text (a dot for what is not printable).
QString arrivalsText(const WaitArrivals& arrived);

// The link to the box went away before anything was saved: the likely cause in a technician's
// words, the system's own in parentheses. One sentence, no line end.
QString linkLostSentence(const QString& port, const QString& systemText);

// What a finished session shows, in one front end's wording, handed over in one piece for the
// front end to place; each part is empty when it has nothing to say. Sentences have no line end.
struct ResultTexts {
    MarkedLog listing;        // dumpResultLog() of the read, when its reply arrived
    MarkedLog stored;         // storedImageLog() of the read, when its reply arrived
    QString linkLost;         // the link went away before a reply was complete
    QString acknowledgement;  // why the box may not have heard how its dump ended
    QString arrivals;         // arrivalsText() of the wait that ran out
};

// `port` as the front end names it: "COM 1" in the window, the device on the command line.
ResultTexts resultTexts(const DumpSession::Result& result, const QString& port, Wording wording);

}  // namespace tessaly::dump
