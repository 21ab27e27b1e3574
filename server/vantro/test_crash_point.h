// A test seam for crash safety. When the environment variable CORVEL_TEST_CRASH
// names a point, the process ends there at once, as a server killed at that moment
// would: _exit(86), nothing flushed, no answer sent. The points:
//   after-item-save     right after an item of a device's Add or Modify was saved
//                       (within the request's write batch, not committed yet);
//   after-store-commit  right after the request's changes were committed to the
//                       store, before the ClientID maps and the answer are written;
//   before-answer       after a request was handled and every state file written,
//                       before its answer is sent.
// Unset (or naming another point) it does nothing. Read once per process; any
// thread. Only the end-to-end tests set it.
#pragma once

// Ends the process when CORVEL_TEST_CRASH equals point.
void TestCrashPoint(const char* point);
