// The serial logger, plain edition.
#include "common/entry.h"
#include "logger/logger.h"

int main(int, char** argv) {
  return kit::run_program(argv[0], kit::run_plain_logger);
}
