#include "NetWait.h"

#include <chrono>
#include <thread>

#include "PollDispatcher.h"

namespace ql::net {

void WaitForMessages(int max_ms) {
  Dispatcher& d = Dispatch();
  if (auto* poll = dynamic_cast<PollDispatcher*>(&d)) {
    poll->RunOnce(max_ms);
    return;
  }
  d.ProcessMessages();
  std::this_thread::sleep_for(std::chrono::milliseconds(max_ms > 2 ? 2 : max_ms));
}

}  // namespace ql::net
