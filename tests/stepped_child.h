// A child process that runs one operation and stops after every completed
// platform step that touches a file (allocations are not reported): its
// step observer reports the step through a pipe and waits for a word from
// the parent before going on. The parent decides where the child stands
// (and where to kill it) by counting steps, never by a clock.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/plat_fault.h"

class SteppedChild {
public:
    static constexpr char kDone = 'D';

    // Forks; the child runs body() (0 for success) and reports kDone.
    template <typename Body>
    explicit SteppedChild(Body body) {
        if (pipe(toParent_) != 0 || pipe(toChild_) != 0) return;
        pid_ = fork();
        if (pid_ != 0) {
            close_end(toParent_[1]);
            close_end(toChild_[0]);
            return;
        }
        close(toParent_[0]);
        close(toChild_[1]);
        plat_fault_observe(&SteppedChild::observe, this);
        int r = body();
        plat_fault_observe(nullptr, nullptr);
        char done = kDone;
        (void)!write(toParent_[1], &done, 1);
        _exit(r == 0 ? 0 : 1);
    }
    ~SteppedChild() {
        if (pid_ > 0) kill_now();
        for (int fd : {toParent_[0], toParent_[1], toChild_[0], toChild_[1]})
            if (fd >= 0) close(fd);
    }
    SteppedChild(const SteppedChild&) = delete;
    SteppedChild& operator=(const SteppedChild&) = delete;

    bool started() const { return pid_ > 0; }
    // The next report: a step kind ('0' + PlatStep), kDone, or 0 when the
    // child is gone.
    char next() {
        char c = 0;
        if (read(toParent_[0], &c, 1) != 1) c = 0;
        done_ = c == kDone;
        return c;
    }
    void go_on() { (void)!write(toChild_[1], "g", 1); }
    // Kills the child where it waits.
    void kill_now() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Lets the child run to its end without stopping; 0 when body() did.
    int finish() {
        if (!done_)
            for (char c = next(); c != kDone && c != 0; c = next()) go_on();
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
    }
    // Lets the child take `steps` steps and kills it after the last; false
    // when it ended first.
    bool kill_after(int steps) {
        for (int taken = 0;;) {
            char c = next();
            if (c == kDone || c == 0) return false;
            if (++taken == steps) {
                kill_now();
                return true;
            }
            go_on();
        }
    }

private:
    static void close_end(int& fd) {
        close(fd);
        fd = -1;
    }
    static void observe(PlatStep step, uint64_t, void* context) {
        if (step == PlatStep::Alloc) return;
        auto* self = static_cast<SteppedChild*>(context);
        char c = char('0' + int(step)), go = 0;
        if (write(self->toParent_[1], &c, 1) != 1 || read(self->toChild_[0], &go, 1) != 1) _exit(2);
    }

    pid_t pid_ = -1;
    bool done_ = false;
    int toParent_[2] = {-1, -1}, toChild_[2] = {-1, -1};
};
