#pragma once
// One round of a wait loop: process pending messages, blocking at most max_ms for the next one
// where the dispatcher can block (the poll loop), so that wait loops do not spin.
namespace ql::net {
void WaitForMessages(int max_ms);
}
