#include "status_poller.h"

#include "StatusCodes.h"

#include <algorithm>

namespace vexo::app {

StatusPoller::StatusPoller(Query query, Options options, StatusCache& cache, Changed changed)
    : query_(std::move(query)), options_(std::move(options)), cache_(cache), changed_(std::move(changed)),
      thread_([this] { run(); })
{
}

StatusPoller::~StatusPoller()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    read_.notify_all();
    thread_.join();
}

void StatusPoller::poke()
{
    {
        std::lock_guard lock(mutex_);
        poked_ = true;
    }
    wake_.notify_all();
}

void StatusPoller::setJobRunning(bool running)
{
    {
        std::lock_guard lock(mutex_);
        jobRunning_ = running;
        poked_ = true;
    }
    wake_.notify_all();
}

bool StatusPoller::readNow(std::chrono::milliseconds limit, const std::function<bool()>& giveUp)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    std::unique_lock lock(mutex_);
    // A reading under way may have asked the printer before the caller's
    // moment: wait for the next one to begin.
    const unsigned long wanted = begun_ + 1;
    poked_ = true;
    wake_.notify_all();
    const auto done = [&] { return stop_ || finished_ >= wanted; };
    while (!read_.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(100)), done)) {
        if (Clock::now() >= deadline)
            return false;
        // asked without the lock: it may take the caller's own locks
        lock.unlock();
        const bool gaveUp = giveUp && giveUp();
        lock.lock();
        if (gaveUp)
            return false;
    }
    return !stop_;
}

void StatusPoller::run()
{
    const std::function<bool()> stopping = [this] {
        std::lock_guard lock(mutex_);
        return stop_;
    };
    std::unique_lock lock(mutex_);
    while (true) {
        // A sleeping printer is left alone until asked: a query would keep it awake.
        const auto due = [this] { return stop_ || poked_; };
        if (asleep_ && !jobRunning_)
            wake_.wait(lock, due);
        else
            wake_.wait_for(lock, jobRunning_ ? options_.jobInterval : options_.interval, due);
        if (stop_)
            return;
        poked_ = false;
        ++begun_;
        lock.unlock();

        const StatusReading reading = query_(stopping);
        if (stopping())
            return;  // a reading given up is no reading
        PrinterStatus status = statusFrom(reading, options_.model, options_.link, cache_.copy().toner);
        cache_.store(status);
        if (changed_)
            changed_(status);

        lock.lock();
        ++finished_;
        read_.notify_all();
        asleep_ = options_.hasWakeUp && reading.answered && reading.code == kStatusAsleep;
    }
}

}  // namespace vexo::app
