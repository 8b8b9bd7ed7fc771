// Keeps errno across clean-up steps whose own failures must not replace the
// code of the failure being reported.
#pragma once

#include <cerrno>

class KeepErrno {
public:
    KeepErrno() : saved_(errno) {}
    ~KeepErrno() { errno = saved_; }
    KeepErrno(const KeepErrno&) = delete;
    KeepErrno& operator=(const KeepErrno&) = delete;

private:
    int saved_;
};
