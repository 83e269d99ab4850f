#include "Console.h"

#include <cstdio>
#include <cstdlib>

#include "MMObjects.h"

namespace trackwell {

void ConsoleUi::ErrorBox(const std::string& text, const std::string&) {
  std::fprintf(stderr, "trackwell: %s\n", text.c_str());
}

Session::Session() {
  ql::SetUi(&ui);
  ql::SetDispatcher(&loop);
  SetApplicationExceptionHandler([this](const std::exception& e) {
    if (failure.empty()) failure = e.what();
  });
}

Session::~Session() {
  SetApplicationExceptionHandler(nullptr);
  ql::SetDispatcher(nullptr);
  ql::SetUi(nullptr);
}

bool ParseInt(const std::string& s, long lo, long hi, int& out) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace trackwell
