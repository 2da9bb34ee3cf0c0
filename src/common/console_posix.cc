// Standard output on POSIX: the bytes as they are.
#include <csignal>
#include <cstdio>

#include "common/console.h"

void SetUpProcessOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

StandardOutput OpenStandardOutput() {
  StandardOutput output;
  output.stream = stdout;
  return output;
}

bool WriteToStandardOutput(void* output, const char* data, std::size_t size) {
  std::FILE* const stream = static_cast<StandardOutput*>(output)->stream;
  return std::fwrite(data, 1, size, stream) == size && std::fflush(stream) == 0;
}
