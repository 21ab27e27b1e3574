// The text of OpenSSL's error queue, for messages to the user.
#pragma once

#include <string>

// The oldest reason on this thread's OpenSSL error queue ("no reason given" when
// it is empty); the queue is emptied.
std::string TakeTlsError();
