#include "app/gui/done_event.h"

void DoneEvent::Set() {
  // Set before emitting: a waiter that connects after the emission finds the flag instead.
  m_set.store(true);
  emit Signalled();
}
