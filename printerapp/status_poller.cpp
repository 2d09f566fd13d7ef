#include "status_poller.h"

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

void StatusPoller::run()
{
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
        lock.unlock();

        const Reading reading = query_();
        PrinterStatus status = statusFrom(reading, options_.model, options_.link, cache_.copy().toner);
        cache_.store(status);
        if (changed_)
            changed_(status);

        lock.lock();
        asleep_ = options_.hasWakeUp && reading.answered && reading.code == 2009;
    }
}

}  // namespace vexo::app
