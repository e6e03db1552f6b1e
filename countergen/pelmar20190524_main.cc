// The counter message generator.
#include "common/entry.h"
#include "countergen/countergen.h"

int main(int, char** argv) {
  return kit::run_program(argv[0], kit::run_generator);
}
