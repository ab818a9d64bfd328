// The system's requests to stop arrive on the event loop with the status the program ends with.
#include <Wait.h>
#include <gtest/gtest.h>

#include <optional>

#include "program/StopSignals.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

namespace tessaly {
namespace {

struct StopRequest {
    const char* name;
    int request;  // a signal number, or a console event on Windows
    int exitStatus;
};

// False when the system cannot send it here (wine sends Ctrl-C only).
bool send(int request) {
#ifdef Q_OS_WIN
    return GenerateConsoleCtrlEvent(DWORD(request), 0);
#else
    return std::raise(request) == 0;
#endif
}

class StopSignalsTest : public ::testing::TestWithParam<StopRequest> {};

TEST_P(StopSignalsTest, ArrivesOnTheEventLoopWithItsExitStatus) {
#ifdef Q_OS_WIN
    if (!GetConsoleWindow()) GTEST_SKIP() << "no console to send the event to";
#endif
    program::StopSignals stopSignals;
    std::optional<int> status;
    QObject::connect(&stopSignals, &program::StopSignals::stopRequested,
                     [&](int exitStatus) { status = exitStatus; });

    if (!send(GetParam().request)) GTEST_SKIP() << "the system cannot send this request here";

    ASSERT_TRUE(test::waitUntil([&] { return status.has_value(); }));
    EXPECT_EQ(*status, GetParam().exitStatus);
}

#ifdef Q_OS_WIN
const StopRequest kRequests[] = {{"CtrlC", CTRL_C_EVENT, 130},
                                 {"CtrlBreak", CTRL_BREAK_EVENT, 130}};
#else
const StopRequest kRequests[] = {
    {"Interrupt", SIGINT, 130}, {"Terminate", SIGTERM, 143}, {"HangUp", SIGHUP, 129}};
#endif

INSTANTIATE_TEST_SUITE_P(Requests, StopSignalsTest, ::testing::ValuesIn(kRequests),
                         [](const ::testing::TestParamInfo<StopRequest>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tessaly
