// A handle the library opened for its own use (an edit by path): closed
// when the guard goes out of scope, unless closed on purpose before.
#pragma once

#include "fileio/keep_errno.h"
#include "frame/ops.h"

class HandleGuard {
public:
    explicit HandleGuard(int h) : h_(h) {}
    ~HandleGuard() {
        if (h_ > 0) {
            KeepErrno keep;
            tav_close(h_, 1);
        }
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    int get() const { return h_; }
    // Closes now and gives tav_close's result.
    int close() {
        int h = h_;
        h_ = 0;
        return tav_close(h, 1);
    }

private:
    int h_;
};
