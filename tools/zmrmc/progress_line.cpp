#include "progress_line.h"

#include "terminal.h"

#include <chrono>
#include <iostream>

ProgressLine::ProgressLine(std::string what) : what_(std::move(what)) {
    if (StandardErrorIsTerminal()) shower_ = std::thread([this] { Show(); });
}

void ProgressLine::Stop() {
    if (!shower_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    done_changed_.notify_all();
    shower_.join();
}

void ProgressLine::Show() {
    std::unique_lock lock(mutex_);
    auto start = std::chrono::steady_clock::now();
    bool shown = false;
    for (int seconds = 1;
         !done_changed_.wait_until(lock, start + std::chrono::seconds(seconds), [this] { return done_; }); ++seconds) {
        std::cerr << "\rzmrmc: " << what_ << "... " << seconds << " s" << std::flush;
        shown = true;
    }
    if (shown) std::cerr << "\r\033[K" << std::flush;
}
