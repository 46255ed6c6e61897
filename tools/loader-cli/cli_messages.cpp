#include "cli_messages.h"

#include <cstdio>

#include "cli_commands.h"
#include "platform/hex_text.h"
#include "serial/ser_comm.h"

namespace cli {

namespace {}  // namespace

std::string PortErrorText(const std::string& port, const std::exception& error) {
  std::string text = port + ": " + ErrorText(error.what());
  if (dynamic_cast<const serial::ESerDeviceNotFound*>(&error) != nullptr) {
    text += " (see `loader-cli ports`)";
  }
  return text;
}

std::string ReplyErrorText(const engine::TStopDetail& stop) {
  std::string text = engine::kReplyErrorText;
  switch (stop.state) {
    case engine::tsAwaitDevice:
      text += ": announcement";
      break;
    case engine::tsAwaitHandshakeAck:
      text += ": handshake";
      break;
    case engine::tsAwaitPageAck:
      text += ": page command " + platform::HexText(stop.address, 4);
      break;
    case engine::tsAwaitBlockSum:
      text +=
          ": block " + std::to_string(stop.block) + " (" + platform::HexText(stop.address, 4) + ")";
      break;
    case engine::tsIdle:
      break;
  }
  if (stop.received) {
    text += ", expected " + platform::HexText(stop.expected, 2) + ", received " +
            platform::HexText(stop.receivedByte, 2);
  }
  return text;
}

}  // namespace cli
