// The two log writers over real files in a temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/platform.h"
#include "common/test_fakes.h"
#include "logger/echo_writer.h"
#include "logger/plain_writer.h"

namespace kit {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    char tmpl[] = "/tmp/kit-writer-XXXXXX";
    path_ = mkdtemp(tmpl);
    path_ += "/";
  }
  ~TempFolder() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool exists(const std::string& name) const { return fs::exists(path_ + name); }

 private:
  std::string path_;
};

void put(std::uint8_t*& BUF, const std::string& s) {
  std::memcpy(BUF, s.data(), s.size());
  BUF += s.size();
}

struct EchoFixture : ::testing::Test {
  void SetUp() override {
    files = make_async_files();
    buffer_setup(w, 64, *files, stage, Program::Tarvik20191117, dir.path());
    prepare_writes(w);
  }
  TempFolder dir;
  testing::FakeConsole console;
  ConsoleStage stage{console, 256};
  std::unique_ptr<AsyncFiles> files;
  EchoWriter w;
};

TEST_F(EchoFixture, BuffersAlternateAndAppendInOrder) {
  OPENLOG(w, "a.log");
  std::uint8_t* const first = w.BUF;
  EXPECT_EQ(first, w.BUF0);
  put(w.BUF, "one ");
  FWRITE(w);
  EXPECT_EQ(w.BUF, w.BUF1);
  EXPECT_EQ(w.BUFFL, 1);
  put(w.BUF, "two ");
  FWRITE(w);
  EXPECT_EQ(w.BUF, w.BUF0);
  put(w.BUF, "three");
  ENDLOG(w);
  EXPECT_EQ(dir.read("a.log"), "one two three");
}

TEST_F(EchoFixture, ExistingFileIsContinued) {
  std::ofstream(dir.path() + "a.log") << "old;";
  OPENLOG(w, "a.log");
  put(w.BUF, "new");
  ENDLOG(w);
  EXPECT_EQ(dir.read("a.log"), "old;new");
}

TEST_F(EchoFixture, ChangeOfFileHandsOverBetweenWrites) {
  OPENLOG(w, "a.log");
  put(w.BUF, "A1");
  FWRITE(w);  // in flight to a.log
  put(w.BUF, "A2");
  NEWLOG(w, "b.log");  // waits, writes A2 to a.log, opens b.log
  EXPECT_EQ(w.FILEFL, 1);
  put(w.BUF, "B1");
  NEWLOG(w, "c.log");  // second change in a row: B1 goes to b.log
  put(w.BUF, "C1");
  ENDLOG(w);  // the pending change: C1 goes to c.log
  EXPECT_EQ(dir.read("a.log"), "A1A2");
  EXPECT_EQ(dir.read("b.log"), "B1");
  EXPECT_EQ(dir.read("c.log"), "C1");
}

TEST_F(EchoFixture, NewLogWithNothingBufferedLeavesTheOldFile) {
  std::ofstream(dir.path() + "a.log") << "kept";
  OPENLOG(w, "a.log");
  NEWLOG(w, "b.log");
  ENDLOG(w);
  EXPECT_EQ(dir.read("a.log"), "kept");
  EXPECT_TRUE(dir.exists("b.log"));
  EXPECT_EQ(dir.read("b.log"), "");
}

TEST_F(EchoFixture, SameNameAsTheCurrentFileContinuesIt) {
  OPENLOG(w, "a.log");
  put(w.BUF, "x");
  NEWLOG(w, "a.log");
  put(w.BUF, "y");
  NEWLOG(w, "a.log");
  put(w.BUF, "z");
  ENDLOG(w);
  EXPECT_EQ(dir.read("a.log"), "xyz");
  EXPECT_EQ(console.out, "");
}

TEST_F(EchoFixture, FileThatCannotBeOpenedFailsAtTheNextFlush) {
  OPENLOG(w, "missing/a.log");
  put(w.BUF, "x");
  try {
    FWRITE(w);
    FAIL();
  } catch (const Ending& e) {
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_EQ(console.out, "WriteFile Error=2\r\n");
}

TEST_F(EchoFixture, FailedWriteShowsAtTheNextFlush) {
  buffer_setup(w, 64, *files, stage, Program::Tarvik20191117, "/dev/");
  OPENLOG(w, "full");  // every write fails: no space left
  put(w.BUF, "x");
  FWRITE(w);
  put(w.BUF, "y");
  try {
    FWRITE(w);
    FAIL();
  } catch (const Ending& e) {
    EXPECT_EQ(e.status, 1);
  }
  EXPECT_EQ(console.out, "GetOverlappedResult Error=28\r\n");
  files->close(w.FILEHANDLE);  // the system would release it at the end of the program
}

struct PlainFixture : ::testing::Test {
  void SetUp() override { files = make_files(); }
  TempFolder dir;
  testing::FakeConsole console;
  ConsoleStage stage{console, 256};
  std::unique_ptr<Files> files;
  PlainWriter w;
};

TEST_F(PlainFixture, OneFileAtATimeAndExistingContinued) {
  buffer_setup(w, 8, *files, stage, Program::Tarvik20170104, dir.path());
  std::ofstream(dir.path() + "b.log") << "old;";
  OPENLOG(w, "a.log");
  put(w.BUF, "12345678");
  FWRITE(w);
  EXPECT_EQ(dir.read("a.log"), "12345678");  // written when FWRITE returns
  put(w.BUF, "9");
  NEWLOG(w, "b.log");
  put(w.BUF, "new");
  ENDLOG(w);
  EXPECT_EQ(dir.read("a.log"), "123456789");
  EXPECT_EQ(dir.read("b.log"), "old;new");
}

TEST_F(PlainFixture, FailuresStopWithTheMappedNumber) {
  struct Case {
    std::string rootdir, name;
    const char* line;
  };
  for (const Case& c : {Case{dir.path(), "missing/a.log", "EInOutError : File not found"},
                        Case{"/dev/", "full", "EInOutError : Disk Full"}}) {
    console.report.clear();
    PlainWriter pw;
    buffer_setup(pw, 8, *files, stage, Program::Tarvik20170104, c.rootdir);
    try {
      OPENLOG(pw, c.name);
      put(pw.BUF, "data");
      ENDLOG(pw);
      FAIL();
    } catch (const Ending& e) {
      EXPECT_EQ(e.status, 217);
    }
    EXPECT_NE(console.report.find(c.line), std::string::npos) << console.report;
  }
}

}  // namespace
}  // namespace kit
