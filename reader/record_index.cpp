#include "reader/record_index.h"

#include <limits>
#include <stdexcept>

void RecordIndex::AddVideo(uint64_t start, uint32_t dataSize, bool iframe, uint64_t next) {
  if (iframe) {
    if (m_starts.size() > std::numeric_limits<uint32_t>::max()) {
      throw std::length_error("too many video records to index");
    }
    m_iframes.push_back(static_cast<uint32_t>(m_starts.size()));
  }
  m_starts.push_back(start | (iframe ? kIFrameBit : 0));
  m_dataSizes.push_back(dataSize);
  m_parsedUpTo = next;
}
