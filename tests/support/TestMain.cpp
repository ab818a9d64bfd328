#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

// A case that hangs ends the program, named, instead of holding the suite until its time limit.
// No case waits longer than the product's longest limit the tests use (10 s) and some seconds.
// A thread of its own keeps the time, so that a case blocked outside the event loop (a close that
// waits for output that cannot leave) is ended too.
class CaseDeadline : public ::testing::EmptyTestEventListener {
public:
    CaseDeadline() : watchdog_([this] { watch(); }) {}
    ~CaseDeadline() override {
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_one();
        watchdog_.join();
    }

private:
    static constexpr std::chrono::seconds kBound{30};

    void OnTestStart(const ::testing::TestInfo& test) override {
        {
            const std::lock_guard lock(mutex_);
            name_ = std::string(test.test_suite_name()) + '.' + test.name();
            deadline_ = std::chrono::steady_clock::now() + kBound;
        }
        changed_.notify_one();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        {
            const std::lock_guard lock(mutex_);
            deadline_.reset();
        }
        changed_.notify_one();
    }

    void watch() {
        std::unique_lock lock(mutex_);
        while (!finished_) {
            if (!deadline_) {
                changed_.wait(lock);
            } else if (changed_.wait_until(lock, *deadline_) == std::cv_status::timeout &&
                       deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
                std::fflush(stdout);
                std::fprintf(stderr, "%s did not end within %lld s; the tests stop here\n",
                             name_.c_str(), static_cast<long long>(kBound.count()));
                std::_Exit(1);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::string name_;
    bool finished_ = false;
    std::thread watchdog_;
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
