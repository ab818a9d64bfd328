#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A case that hangs ends the program, named, instead of holding the suite until its time limit.
// No case waits longer than the product's longest limit the tests use (10 s) and some seconds;
// every wait runs the event loop, so the bound comes inside whichever one hangs.
class CaseDeadline : public ::testing::EmptyTestEventListener {
public:
    CaseDeadline() {
        bound_.setSingleShot(true);
        bound_.setInterval(std::chrono::seconds(30));
        QObject::connect(&bound_, &QTimer::timeout, [this] {
            std::fflush(stdout);
            std::fprintf(stderr, "%s did not end within 30 s; the tests stop here\n",
                         name_.c_str());
            std::_Exit(1);
        });
    }

private:
    void OnTestStart(const ::testing::TestInfo& test) override {
        name_ = std::string(test.test_suite_name()) + '.' + test.name();
        bound_.start();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { bound_.stop(); }

    QTimer bound_;
    std::string name_;
};

}  // namespace

// Tests run headless; test discovery runs this binary outside ctest's environment too.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new CaseDeadline);
    return RUN_ALL_TESTS();
}
