// Named mutexes shared by every process that loads the library.
#pragma once

enum class NamedMutex { FctGlobal = 0, MemTable = 1, NameSeed = 2, WritePos = 3 };

const char* plat_mutex_name(NamedMutex m);
void plat_mutex_lock(NamedMutex m);
void plat_mutex_unlock(NamedMutex m);
void plat_mutexes_create();   // process attach
void plat_mutexes_close();    // process detach (idempotent)

// Holds a named mutex for a scope.
class NamedLock {
public:
    explicit NamedLock(NamedMutex m) : m_(m) { plat_mutex_lock(m_); }
    ~NamedLock() { plat_mutex_unlock(m_); }
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

private:
    NamedMutex m_;
};
