#include <csignal>

#include "platform/MainLoop.h"
#include "platform/Random.h"

int main() {
  // A peer that goes away must not end the process through a write.
  std::signal(SIGPIPE, SIG_IGN);
  Randomize();
  MainLoop::Instance().BindToCurrentThread();
  return 0;
}
