// Where a frame-reading operation of CMP4File puts the record it delivers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

class FrameDest {
 public:
  // The caller guarantees room for any record it can be handed: the contract of the C
  // interface, whose buffers carry no size.
  static FrameDest Unbounded(void* data) {
    return FrameDest(static_cast<uint8_t*>(data), std::numeric_limits<size_t>::max(), nullptr);
  }
  // Room for `capacity` bytes. A record that does not fit is passed over by seeking; only its
  // first bytes, as many as fit, are written (enough for its I-frame mark and time, since
  // the reader's own buffers hold far more than a record's first 79 bytes).
  static FrameDest Bounded(void* data, size_t capacity) {
    return FrameDest(static_cast<uint8_t*>(data), capacity, nullptr);
  }
  // A vector that grows to hold any record, written from `offset` on; bytes before `offset`
  // are kept.
  static FrameDest Growable(std::vector<uint8_t>& buffer, size_t offset) {
    return FrameDest(nullptr, 0, &buffer, offset);
  }

  // For a caller that drops auxiliary records: their data is passed over by seeking instead
  // of being read (an auxiliary record may claim up to 4 GiB); the record is still reported,
  // with its type and byte count, and the destination's content is then undefined.
  FrameDest WithoutAuxData() && {
    m_auxData = false;
    return *this;
  }

  // Makes room for `size` bytes and returns how many of them fit (all, unless Bounded).
  // May throw std::bad_alloc for a Growable destination.
  size_t Prepare(size_t size) {
    if (m_growable == nullptr) return std::min(size, m_capacity);
    if (m_growable->size() < m_offset + size) m_growable->resize(m_offset + size);
    return size;
  }
  // As Prepare, for the data of an auxiliary record.
  size_t PrepareAux(size_t size) { return m_auxData ? Prepare(size) : 0; }
  uint8_t* Data() { return m_growable ? m_growable->data() + m_offset : m_data; }

 private:
  FrameDest(uint8_t* data, size_t capacity, std::vector<uint8_t>* growable, size_t offset = 0)
      : m_data(data), m_capacity(capacity), m_growable(growable), m_offset(offset) {}

  uint8_t* m_data;
  size_t m_capacity;
  std::vector<uint8_t>* m_growable;
  size_t m_offset;
  bool m_auxData = true;
};
