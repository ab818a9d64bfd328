// tessaly-dump --check-port against a simulated box wired as a jumper, silent or garbling, in
// process (runs under wine too).
#include <gtest/gtest.h>

#include "RunDump.h"
#include "sim/SimulatedBox.h"

namespace tessaly::test {
namespace {

struct LoopbackCase {
    const char* name;
    sim::Loopback loopback;
    int exitCode;
    const char* says;  // on stdout when the check passes, on stderr otherwise
};

class PortCheckTest : public ::testing::TestWithParam<LoopbackCase> {};

TEST_P(PortCheckTest, SaysWhatCameBackAndNeverSendsTheHandshake) {
    sim::SimOptions options;
    options.loopback = GetParam().loopback;
    sim::InProcessBox box(options);

    const RunResult result = runDump({"--check-port", box.devicePath()});

    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err.toStdString();
    const QString& said = GetParam().exitCode == 0 ? result.out : result.err;
    EXPECT_TRUE(said.contains(GetParam().says)) << said.toStdString();
    EXPECT_TRUE(said.contains(box.devicePath()));
    EXPECT_FALSE(box.transcript().contains("REQUEST")) << "the dump handshake was sent";
}

INSTANTIATE_TEST_SUITE_P(Loopback, PortCheckTest,
                         ::testing::Values(LoopbackCase{"Ok", sim::Loopback::Echo, 0,
                                                        "loopback OK"},
                                           LoopbackCase{"Silent", sim::Loopback::Off, 3,
                                                        "no jumper, or the adapter does not send"},
                                           LoopbackCase{"Garbled", sim::Loopback::Garbled, 1,
                                                        "bytes came back changed"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessaly::test
