#ifndef TRANSPORT_TESTS_TC_MODULE_H_
#define TRANSPORT_TESTS_TC_MODULE_H_

// A module for the transparent-channel tests, played over the master side of a pty pair. In AT
// mode it answers every command line with "\r\nOK\r\n" (or the answer set for it) and goes into
// the channel after "AT*EETC=2". In the channel it takes datagrams, acknowledges each one, answers
// the last datagram of a payload with the frames set for it, and goes back to AT mode after a
// close frame. Everything the host wrote is kept, byte for byte.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testing/tc_frames.h"
#include "transport/tests/support/pty_support.h"

namespace tc_test {

struct ReceivedDatagram {
  uint8_t version = 0;
  uint8_t type = 0;
  uint16_t protocol = 0;
  uint16_t session = 0;
  uint16_t sequence = 0;
  std::string payload;
};

class TcModule {
 public:
  explicit TcModule(tl_test::PtyPair* pty) : pty_(pty) {}
  ~TcModule() { Stop(); }
  TcModule(const TcModule&) = delete;
  TcModule& operator=(const TcModule&) = delete;

  // Acknowledgement for the n-th datagram (from 0); the default acknowledges it.
  std::function<std::string(const ReceivedDatagram&, int)> ack_for =
      [](const ReceivedDatagram& d, int) { return tarvik_test::TcAck(d.session, d.sequence); };
  // Frames written after the acknowledgement of a payload's last datagram.
  std::function<std::vector<std::string>(const ReceivedDatagram&)> answer_for =
      [](const ReceivedDatagram& d) {
        return std::vector<std::string>{
            tarvik_test::TcDatagram(d.session, 0, tarvik_test::TcAnswerPayload(0))};
      };
  // Reply to the close frame, followed by the module's "back in AT mode" text.
  std::string close_reply =
      std::string("\x02\x01", 2) + tarvik_test::Le16(0) + tarvik_test::Le16(0) + "\r\nOK\r\n";
  // Answers of single command lines, instead of "\r\nOK\r\n".
  std::map<std::string, std::string> line_answers;
  // Where the module cuts each frame it writes, and the pause between the pieces.
  std::vector<size_t> split_offsets;
  int split_pause_ms = 50;

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::string Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  void ClearReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
  }
  std::vector<ReceivedDatagram> Datagrams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return datagrams_;
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  bool InChannel() const { return in_channel_; }
  int CloseFrames() const { return close_frames_; }

 private:
  void Write(const std::string& frame) {
    size_t start = 0;
    for (size_t cut : split_offsets) {
      if (cut <= start || cut >= frame.size()) continue;
      pty_->Write(frame.substr(start, cut - start));
      std::this_thread::sleep_for(std::chrono::milliseconds(split_pause_ms));
      start = cut;
    }
    pty_->Write(frame.substr(start));
  }

  void Run() {
    std::string pending;
    int index = 0;
    while (!stop_) {
      struct pollfd p = {pty_->master(), POLLIN, 0};
      if (poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) continue;
      char buffer[65536];
      const ssize_t n = read(pty_->master(), buffer, sizeof buffer);
      if (n <= 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buffer, static_cast<size_t>(n));
      }
      pending.append(buffer, static_cast<size_t>(n));
      for (bool progressed = true; progressed;) {
        progressed = in_channel_ ? TakeFrame(&pending, &index) : TakeLine(&pending);
      }
    }
  }

  bool TakeLine(std::string* pending) {
    const size_t end = pending->find_first_of("\r\n");
    if (end == std::string::npos) return false;
    const std::string line = pending->substr(0, end);
    pending->erase(0, end + 1);
    if (line.empty()) return true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    }
    const auto answer = line_answers.find(line);
    const std::string reply = answer != line_answers.end() ? answer->second : "\r\nOK\r\n";
    Write(reply);
    if (line == "AT*EETC=2" && reply == "\r\nOK\r\n") {
      // The rest of the line end belongs to AT mode.
      if (!pending->empty() && (*pending)[0] == '\n') pending->erase(0, 1);
      in_channel_ = true;
    }
    return true;
  }

  bool TakeFrame(std::string* pending, int* index) {
    if (pending->size() < 2) return false;
    const uint8_t type = static_cast<uint8_t>((*pending)[1]);
    if (type == 0) {
      if (pending->size() < 4) return false;
      pending->erase(0, 4);
      ++close_frames_;
      in_channel_ = false;
      Write(close_reply);
      return true;
    }
    if (pending->size() < 10) return false;
    const size_t length = tarvik_test::Le16At(*pending, 8);
    if (pending->size() < 10 + length) return false;
    ReceivedDatagram d;
    d.version = static_cast<uint8_t>((*pending)[0]);
    d.type = type;
    d.protocol = tarvik_test::Le16At(*pending, 2);
    d.session = tarvik_test::Le16At(*pending, 4);
    d.sequence = tarvik_test::Le16At(*pending, 6);
    d.payload = pending->substr(10, length);
    pending->erase(0, 10 + length);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      datagrams_.push_back(d);
    }
    const std::string ack = ack_for(d, (*index)++);
    if (!ack.empty()) Write(ack);
    if (d.sequence == 0 && ack == tarvik_test::TcAck(d.session, d.sequence)) {
      for (const std::string& frame : answer_for(d)) Write(frame);
    }
    return true;
  }

  tl_test::PtyPair* pty_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> in_channel_{false};
  std::atomic<int> close_frames_{0};
  mutable std::mutex mutex_;
  std::string received_;
  std::vector<ReceivedDatagram> datagrams_;
  std::vector<std::string> lines_;
};

}  // namespace tc_test

#endif  // TRANSPORT_TESTS_TC_MODULE_H_
