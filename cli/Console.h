#pragma once
// What every trackwell command that runs a chain needs: message boxes on stderr, the poll loop
// as the dispatcher, and the first error the application's handler sees kept in `failure`.
#include <string>

#include "PollDispatcher.h"
#include "ScriptedUi.h"

namespace trackwell {

// Message boxes of the components go to stderr.
class ConsoleUi : public ql::ScriptedUi {
 public:
  void ErrorBox(const std::string& text, const std::string&) override;
};

struct Session {
  ConsoleUi ui;
  ql::PollDispatcher loop;
  std::string failure;
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

// A decimal integer in [lo, hi], the whole of s.
bool ParseInt(const std::string& s, long lo, long hi, int& out);

}  // namespace trackwell
