#pragma once

// Files are written as their content is made: a producer puts the bytes into
// a sink, whose buffer is handed on (to the file, or to a string) each time it
// fills, so no file's whole text is ever held in memory.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace varnix {

/// Receives the content of a file in order, through a buffer of its own that
/// is handed on whenever it fills.
class ContentSink {
 public:
  /// The most that room() may be asked for at once.
  static constexpr std::size_t kMaxRoom = 4096;

  ContentSink(const ContentSink&) = delete;
  ContentSink& operator=(const ContentSink&) = delete;
  virtual ~ContentSink() = default;

  /// Appends bytes of any length.
  void append(std::string_view bytes);
  /// Space for up to n bytes (at most kMaxRoom) written in place; commit()
  /// then says where they end.
  char* room(std::size_t n) {
    if (static_cast<std::size_t>(m_end - m_next) < n) drain();
    return m_next;
  }
  /// Ends bytes written at room(): end is one past the last of them.
  void commit(char* end) { m_next = end; }
  /// Hands on whatever is buffered.
  void drain();

 protected:
  /// A sink whose buffer holds `capacity` bytes (at least kMaxRoom).
  explicit ContentSink(std::size_t capacity);
  /// Takes the next bytes of the content, in order; may throw to give up
  /// the content (the producer's work then ends with the exception).
  virtual void take(std::string_view bytes) = 0;

 private:
  std::unique_ptr<char[]> m_buffer;
  char* m_next;
  char* m_end;
  std::size_t m_capacity;
};

/// Makes the content of a file into out. It may throw: the file being
/// written is then left as it was and the write fails with the exception's
/// words.
using ContentProducer = std::function<void(ContentSink& out)>;

/// A producer of the bytes of text (which must outlive it).
ContentProducer contentOf(std::string_view text);

/// Everything produce makes, as one string.
std::string producedText(const ContentProducer& produce);

}  // namespace varnix
