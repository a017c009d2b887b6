#include "workspace/content_sink.h"

#include <algorithm>
#include <cstring>

namespace varnix {

ContentSink::ContentSink(std::size_t capacity)
    : m_buffer(new char[std::max(capacity, kMaxRoom)]),
      m_next(m_buffer.get()),
      m_end(m_buffer.get() + std::max(capacity, kMaxRoom)),
      m_capacity(std::max(capacity, kMaxRoom)) {}

void ContentSink::append(std::string_view bytes) {
  while (!bytes.empty()) {
    if (m_next == m_buffer.get() && bytes.size() >= m_capacity) {
      // A whole buffer's worth goes on as it is, without a copy.
      take(bytes.substr(0, m_capacity));
      bytes.remove_prefix(m_capacity);
      continue;
    }
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(m_end - m_next));
    std::memcpy(m_next, bytes.data(), n);
    m_next += n;
    bytes.remove_prefix(n);
    if (m_next == m_end) drain();
  }
}

void ContentSink::drain() {
  if (m_next == m_buffer.get()) return;
  const std::string_view bytes(m_buffer.get(), static_cast<std::size_t>(m_next - m_buffer.get()));
  m_next = m_buffer.get();
  take(bytes);
}

ContentProducer contentOf(std::string_view text) {
  return [text](ContentSink& out) { out.append(text); };
}

namespace {

class StringSink final : public ContentSink {
 public:
  explicit StringSink(std::string& out) : ContentSink(std::size_t{64} << 10), m_out(out) {}

 private:
  void take(std::string_view bytes) override { m_out.append(bytes); }
  std::string& m_out;
};

}  // namespace

std::string producedText(const ContentProducer& produce) {
  std::string text;
  StringSink sink(text);
  produce(sink);
  sink.drain();
  return text;
}

}  // namespace varnix
