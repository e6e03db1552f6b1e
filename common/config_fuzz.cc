// Arbitrary bytes as the configuration file of each program. Checks that the
// reading never fails other than through the failure stop, that no text is
// longer than 255 bytes, and that reading the file in one piece and byte by
// byte gives the same values and echo lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/config.h"
#include "common/console.h"
#include "common/process.h"
#include "common/test_fakes.h"

namespace {

struct Outcome {
  kit::Config config;
  std::string echo;
  int status = -1;
};

Outcome read_all(kit::Program program, std::string_view file, std::size_t chunk) {
  kit::MemorySource source(file, chunk);
  kit::IniFile F;
  F.source = &source;
  kit::testing::FakeConsole console;
  Outcome o;
  try {
    kit::read_layout(console, program, F, o.config);
  } catch (const kit::Ending& ending) {
    o.status = ending.status;
  }
  o.echo = console.out;
  return o;
}

bool same(const kit::Config& a, const kit::Config& b) {
  return a.SNCOM == b.SNCOM && a.SNCOM2 == b.SNCOM2 && a.NCOM == b.NCOM && a.NCOM2 == b.NCOM2 &&
         a.NCOM0 == b.NCOM0 && a.COMBAUD == b.COMBAUD && a.COMBYTESIZE == b.COMBYTESIZE &&
         a.COMPARITY == b.COMPARITY && a.COMSTOPBITS == b.COMSTOPBITS && a.EOLCHAR == b.EOLCHAR &&
         a.EOLTIME == b.EOLTIME && a.BUFSIZE == b.BUFSIZE && a.INIEXT == b.INIEXT && a.FZ == b.FZ &&
         a.C1 == b.C1 && a.C2 == b.C2 && a.ZZZ1 == b.ZZZ1 && a.ZZZ2 == b.ZZZ2 &&
         a.INITCCS == b.INITCCS && a.INITCC == b.INITCC;
}

bool short_texts(const kit::Config& c) {
  for (const std::string* s :
       {&c.SNCOM, &c.SNCOM2, &c.NCOM, &c.NCOM2, &c.NCOM0, &c.INIEXT, &c.INITCCS, &c.INITCC}) {
    if (s->size() > 255) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  for (kit::Program program : {kit::Program::Tarvik20191117, kit::Program::Tarvik20170104,
                               kit::Program::Pelmar20190524, kit::Program::Dorvel20161004}) {
    const Outcome whole = read_all(program, file, SIZE_MAX);
    const Outcome bytewise = read_all(program, file, 1);
    if (whole.status != bytewise.status || whole.echo != bytewise.echo ||
        !same(whole.config, bytewise.config) || !short_texts(whole.config)) {
      std::abort();
    }
    const bool dorvel = program == kit::Program::Dorvel20161004;
    if (whole.status != -1 && whole.status != (dorvel ? 106 : 217)) std::abort();
  }
  return 0;
}
