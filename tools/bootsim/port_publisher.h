// Publishing the simulator's terminal under a plain port name, in the folder and with the
// layout that the loader's port list and its opening by name read (serial/port_names.h).
#pragma once

#include <string>

namespace bootsim {

class TPublisher {
 public:
  TPublisher() = default;
  ~TPublisher() { Withdraw(); }
  TPublisher(const TPublisher&) = delete;
  TPublisher& operator=(const TPublisher&) = delete;

  // Publishes `target` in `dir` (created private if absent) as `wanted`, or as the first
  // bootsimN no running simulator holds when `wanted` is empty, and holds the name's lock
  // until Withdraw; returns the name. Raises std::runtime_error when `dir` is not a private
  // folder of this user or `wanted` is held by a running simulator.
  std::string Publish(const std::string& dir, const std::string& target, const std::string& wanted);
  // Removes the link and the lock file and lets the lock go. Idempotent.
  void Withdraw();

  const std::string& Dir() const { return dir_; }

 private:
  bool TryClaim(const std::string& target, const std::string& name);

  std::string dir_;
  std::string name_;
  int lock_ = -1;
};

}  // namespace bootsim
