#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vexo::net {

inline constexpr int kWakeUpPort = 65002;
inline constexpr int kWakeUpDatagramSize = 300;

// The message a received datagram carries: its first kWakeUpDatagramSize
// bytes, when they are non-empty, valid UTF-8.
std::optional<std::string> readableWakeUpMessage(std::string_view datagram);

// The sleep flag a wake-up datagram leaves behind, or nothing when it
// concerns another printer or says nothing we act on.
std::optional<bool> wakeUpDecision(std::string_view msg, std::string_view sender, std::string_view selectedIp,
                                   bool hasWakeUp, bool isWakeUp);

// Receives the printers' wake-up datagrams on its own thread and hands each
// readable one (non-empty, valid UTF-8, cut to 300 bytes) to the handler, on
// that thread.
class WakeUpListener {
public:
    using Handler = std::function<void(const std::string& sender, const std::string& msg)>;

    WakeUpListener(int port, Handler handler);
    ~WakeUpListener();

    WakeUpListener(const WakeUpListener&) = delete;
    WakeUpListener& operator=(const WakeUpListener&) = delete;

    void start();
    void stop();

    // The port bound, 0 while not bound.
    int boundPort() const { return boundPort_; }
    // How long to wait before binding again after a failed bind.
    void setRebindDelayMs(int ms) { rebindDelayMs_ = ms; }

private:
    void run();

    const int port_;
    Handler handler_;
    int rebindDelayMs_ = 5000;
    std::atomic<int> boundPort_ = 0;
    std::atomic<bool> stopping_ = false;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace vexo::net
