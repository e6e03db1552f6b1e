// The counter initializer and relay.
#include "common/entry.h"
#include "relay/relay.h"

int main(int, char** argv) {
  return kit::run_program(argv[0], kit::run_relay);
}
