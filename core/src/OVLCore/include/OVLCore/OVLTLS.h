// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// One thread-local storage slot whose per-thread value is a heap-allocated T, created
// value-initialised on a thread's first access and freed when that thread ends or, for the
// destroying thread, when the slot is destroyed.

#include <pthread.h>

#include <new>

namespace OVL {

template <typename T>
class OVLTLS {
public:
    OVLTLS() { m_ok = pthread_key_create(&m_key, &destroyValue) == 0; }
    virtual ~OVLTLS() {
        if (!m_ok) {
            return;
        }
        delete static_cast<T*>(pthread_getspecific(m_key));
        pthread_setspecific(m_key, nullptr);
        pthread_key_delete(m_key);
    }
    OVLTLS(const OVLTLS&) = delete;
    OVLTLS& operator=(const OVLTLS&) = delete;

    // False when the platform could not provide a slot; get() then returns null.
    bool valid() const { return m_ok; }

    // The calling thread's value, created on first access; null if no slot or no memory.
    T* get() {
        if (!m_ok) {
            return nullptr;
        }
        T* value = static_cast<T*>(pthread_getspecific(m_key));
        if (value == nullptr) {
            value = new (std::nothrow) T();
            if (value != nullptr && pthread_setspecific(m_key, value) != 0) {
                delete value;
                value = nullptr;
            }
        }
        return value;
    }

private:
    static void destroyValue(void* p) { delete static_cast<T*>(p); }

    pthread_key_t m_key{};
    bool m_ok = false;
};

}  // namespace OVL
