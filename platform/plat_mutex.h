// Named mutexes shared by every process that loads the library.
#pragma once

#include <pthread.h>

#include <cstdint>

// The four named mutexes, with their names, and what each guards in every
// process.
enum class NamedMutex {
    FctGlobal = 0,  // file control table allocation and release (TAV_FCT_GLOBAL_MUTEX)
    MemTable = 1,   // memory table (TAV_MEMTBL)
    NameSeed = 2,   // name seed and shared name buffer (TAV_str1_seed)
    WritePos = 3,   // page data write position of the PCX and DCX writers (TAV_WritePos)
};
constexpr int kNamedMutexCount = int(NamedMutex::WritePos) + 1;

// Takes the mutex, waiting as long as another thread or process holds it.
// The owner may take it again while holding it (each lock needs its
// unlock); a holder that died leaves it free for the next taker.
void plat_mutex_lock(NamedMutex m);
void plat_mutex_unlock(NamedMutex m);
void plat_mutexes_create();   // process attach
void plat_mutexes_close();    // process detach (idempotent); the next lock attaches again

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

// Where the mutexes live: a shared-memory segment named per user, layout
// version and ABI; a file of that name in the temporary directory when no
// shared memory is usable; or, when neither is, a mapping shared only with
// this process's children.
enum class MutexBacking { SharedMemory, TempFile, ProcessOnly };

// Test seams. The backing in use (attaching first when detached) and its
// name: the shared-memory object's name, the file's path, or "".
MutexBacking plat_mutex_backing(char* name, uint32_t size);
// Whether the next attach may use shared memory (it normally may).
void plat_mutex_allow_shared_memory(bool allowed);
// The mutex itself, for tests that damage it as a foreign program could.
pthread_mutex_t* plat_mutex_native(NamedMutex m);
