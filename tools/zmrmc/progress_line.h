// A progress line on standard error for work that takes longer than a second: "zmrmc: WHAT... N s", kept
// up to date each second and erased when the work ends. Only on a terminal; elsewhere nothing is written.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class ProgressLine {
public:
    explicit ProgressLine(std::string what);
    ~ProgressLine() { Stop(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Ends the line now (before the command writes its own output); the destructor does it otherwise.
    void Stop();

private:
    void Show();

    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::thread shower_;
};
