#pragma once

#include <QString>
#include <QStringList>

namespace tessaly::window {

// The first of `candidates` that a file can be created in; empty when none can take one.
QString firstWritableDirectory(const QStringList& candidates);

// The directory the window proposes for the image, with a trailing separator: the program's
// own when it is the user's and writable (a copy unpacked for the workshop), otherwise the user's
// documents, otherwise home; never a system folder or another user's, writable or not.
QString defaultTargetDirectory(const QString& programDirectory);
// The same for the running program.
QString defaultTargetDirectory();

// Why the image cannot be saved in `target` (the target directory text), as the message box says
// it: the folder and what is wrong with it; empty when the folder can take the image.
QString whyFolderCannotTakeImage(const QString& target);

}  // namespace tessaly::window
