// CancelToken on Windows: a manual-reset event signalled by Cancel().
#include <windows.h>

#include "serial/cancel.h"

namespace vantor::serial {

CancelToken::CancelToken() {
  m_waker = reinterpret_cast<std::intptr_t>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

CancelToken::~CancelToken() {
  if (m_waker != 0 && m_waker != -1)
    CloseHandle(reinterpret_cast<HANDLE>(m_waker));
}

void CancelToken::Cancel() {
  if (m_cancelled.exchange(true, std::memory_order_acq_rel))
    return;
  if (m_waker != 0 && m_waker != -1)
    SetEvent(reinterpret_cast<HANDLE>(m_waker));
}

void CancelToken::WaitWaker(std::chrono::milliseconds timeout) const {
  if (m_waker != 0 && m_waker != -1)
    WaitForSingleObject(reinterpret_cast<HANDLE>(m_waker), static_cast<DWORD>(timeout.count()));
  else
    Sleep(static_cast<DWORD>(timeout.count()));
}

}  // namespace vantor::serial
