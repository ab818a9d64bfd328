#pragma once

#include <QApplication>
#include <memory>

namespace tessaly::window {

// The application object for the window (a plain one for help and version), or nothing when
// there is no display to show it on; then one line on stderr has said so and pointed to the
// command-line tool. Without this check Qt aborts with a long text about platform plugins that
// tells a user nothing.
std::unique_ptr<QCoreApplication> createApplication(int& argc, char** argv);

}  // namespace tessaly::window
