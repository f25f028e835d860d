// An output stream buffer that gathers what is written in one large block
// and hands it to a file descriptor with write(2) when the block is full or
// the stream is flushed, so that a run of short lines costs one system call
// per block rather than one per few lines.
//
//   BlockWriter block(STDOUT_FILENO);
//   std::ostream out(&block);
//   out << "line\n";
//   out.flush();  // everything so far written out; false state on failure
#pragma once

#include <memory>
#include <streambuf>

class BlockWriter : public std::streambuf {
 public:
  static constexpr size_t kBlockBytes = 1 << 20;

  explicit BlockWriter(int fd);
  ~BlockWriter() override;

  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  // Writes out the gathered bytes; false once a write has failed.
  bool Drain();

  int fd_;
  std::unique_ptr<char[]> block_;
  bool failed_ = false;
};
