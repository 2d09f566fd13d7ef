#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexo::net {

inline constexpr std::uint16_t kCommandPort = 9101;
// Far above any reply (a scan of many networks stays under a few KiB); a
// printer that sends more is cut here.
inline constexpr size_t kReplyLimit = 64 * 1024;
// The reply has ended when nothing more comes for this long.
inline constexpr int kReplyGapMs = 100;

// A reply cut at the limit loses its last, unterminated line: a piece of a
// line is never read as data. Whole replies are returned as they are.
std::string withoutCutLine(std::string reply, bool cut);

// How the last read of a reply ended.
enum class ReplyEnd {
    whole,    // the printer paused or closed after it
    reset,    // the connection failed before the printer ended it: no reply
    cut,      // kReplyLimit bytes came; the rest was not read
    nothing,  // no reply within the time-out, or not connected
};

// The printer's command port: one connection, a command written as bytes,
// one read of the reply. Every wait is bounded, so a printer that accepts
// the connection and never answers costs the reply time-out, not a hang.
class TCPCommucator {
public:
    explicit TCPCommucator(std::string host = "192.168.1.1", std::uint16_t port = kCommandPort);
    ~TCPCommucator();

    TCPCommucator(const TCPCommucator&) = delete;
    TCPCommucator& operator=(const TCPCommucator&) = delete;

    void setURL(std::string host) { host_ = std::move(host); }
    const std::string& host() const { return host_; }
    void setTimeouts(int connectMs, int replyMs);

    bool connect();
    void disconnect();
    bool isConnected() const { return fd_ >= 0; }

    // Writes the whole message, or nothing when not connected.
    bool send(std::string_view message);
    // The reply, read to its end: until the printer pauses, closes, or
    // kReplyLimit bytes have come, all within the reply time-out. Absent
    // when not connected, when nothing came in time, when the connection
    // was reset before the printer ended its reply, or when the bytes are
    // not UTF-8. lastEnd() tells which, and whether the reply was cut.
    std::optional<std::string> receive();
    ReplyEnd lastEnd() const { return lastEnd_; }

private:
    std::string host_;
    std::uint16_t port_;
    int connectTimeoutMs_ = 3000;
    int replyTimeoutMs_ = 3000;
    int fd_ = -1;
    ReplyEnd lastEnd_ = ReplyEnd::nothing;
};

// Opens the printer's command port, exchanges one command and closes again.
std::optional<std::string> exchangeCommand(const std::string& host, std::string_view command,
                                           int connectTimeoutMs = 3000, int replyTimeoutMs = 3000,
                                           std::uint16_t port = kCommandPort);

}  // namespace vexo::net
