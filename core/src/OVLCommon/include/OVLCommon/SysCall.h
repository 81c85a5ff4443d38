#pragma once
// Retrying system calls that a signal interrupted.

#include <cerrno>
#include <utility>

namespace OVL {

// Calls `call()` until it returns a value other than a negative one with errno EINTR, and returns
// that value: for the calls that report failure by -1 (open, read, write, fcntl, getrandom...).
// errno is as the last call left it.
template <class Call>
auto retryOnEintr(Call&& call) -> decltype(call()) {
    for (;;) {
        auto result = call();
        if (!(result < 0) || errno != EINTR)
            return result;
    }
}

}  // namespace OVL
