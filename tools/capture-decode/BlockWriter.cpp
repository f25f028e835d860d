#include "BlockWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

BlockWriter::BlockWriter(int fd) : fd_(fd), block_(new char[kBlockBytes]) {
  setp(block_.get(), block_.get() + kBlockBytes);
}

BlockWriter::~BlockWriter() { Drain(); }

bool BlockWriter::Drain() {
  const char* at = pbase();
  const char* end = pptr();
  while (!failed_ && at < end) {
    const ssize_t n = write(fd_, at, static_cast<size_t>(end - at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      break;
    }
    at += n;
  }
  setp(block_.get(), block_.get() + kBlockBytes);
  return !failed_;
}

BlockWriter::int_type BlockWriter::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

// Copies into the block, draining it whenever it fills.
std::streamsize BlockWriter::xsputn(const char* text, std::streamsize count) {
  std::streamsize done = 0;
  while (done < count) {
    std::streamsize room = epptr() - pptr();
    if (room == 0) {
      if (!Drain()) break;
      room = epptr() - pptr();
    }
    const std::streamsize piece = count - done < room ? count - done : room;
    std::memcpy(pptr(), text + done, static_cast<size_t>(piece));
    pbump(static_cast<int>(piece));
    done += piece;
  }
  return done;
}

int BlockWriter::sync() { return Drain() ? 0 : -1; }
