// The fault plan and the step counts behind plat_fault.h. The plan and the
// observer are armed by a test thread, maybe while other threads take
// steps: they are read and changed under a mutex, which a step takes only
// while a plan or an observer is active. The counts are atomic, so steps
// taken by several threads are all counted.
#include "platform/plat_fault.h"

#include <array>
#include <mutex>

#include "platform/plat_file.h"

namespace plat_fault_detail {
std::atomic<bool> g_active{false};
}  // namespace plat_fault_detail

namespace {

struct FaultState {
    std::mutex mutex;  // plan, armed, observer, context
    PlatFaultPlan plan;
    bool armed = false;
    std::atomic<bool> fired{false};
    std::array<std::atomic<uint32_t>, kPlatStepKinds> counts{};
    PlatStepObserver observer = nullptr;
    void* context = nullptr;
};

FaultState g_state;
std::atomic<uint32_t> g_maxFileLength{kPlatMaxFileLength};

int index_of(PlatStep step) { return static_cast<int>(step); }

void reset_counts() {
    for (auto& c : g_state.counts) c.store(0, std::memory_order_relaxed);
    g_state.fired.store(false, std::memory_order_relaxed);
}

// With the state's mutex held.
void update_active() {
    bool active = g_state.armed || g_state.observer != nullptr;
    plat_fault_detail::g_active.store(active, std::memory_order_release);
}

}  // namespace

void plat_fault_arm(const PlatFaultPlan& plan) {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    plat_fault_detail::g_active.store(false, std::memory_order_release);
    reset_counts();
    g_state.plan = plan;
    g_state.armed = true;
    update_active();
}

void plat_fault_disarm() {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.armed = false;
    g_state.observer = nullptr;
    g_state.context = nullptr;
    update_active();
}

void plat_fault_limit_file_length(uint32_t bytes) {
    g_maxFileLength.store(bytes && bytes < kPlatMaxFileLength ? bytes : kPlatMaxFileLength,
                          std::memory_order_relaxed);
}

uint32_t plat_max_file_length() { return g_maxFileLength.load(std::memory_order_relaxed); }

uint32_t plat_fault_count(PlatStep step) {
    return g_state.counts[index_of(step)].load(std::memory_order_relaxed);
}

bool plat_fault_fired() { return g_state.fired.load(std::memory_order_relaxed); }

void plat_fault_observe(PlatStepObserver observer, void* context) {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    if (observer && !g_state.armed && !g_state.observer) reset_counts();
    g_state.observer = observer;
    g_state.context = context;
    update_active();
}

namespace plat_fault_detail {

bool enter(PlatStep step, PlatFailure* failure) {
    uint32_t n = g_state.counts[index_of(step)].fetch_add(1, std::memory_order_relaxed) + 1;
    std::lock_guard<std::mutex> lock(g_state.mutex);
    const PlatFaultPlan& plan = g_state.plan;
    if (!g_state.armed || plan.step != step || plan.nth == 0) return false;
    if (n != plan.nth && !(plan.persistent && n > plan.nth)) return false;
    g_state.fired.store(true, std::memory_order_relaxed);
    *failure = plan.failure;
    return true;
}

void completed(PlatStep step, uint64_t bytes) {
    PlatStepObserver observer;
    void* context;
    {
        std::lock_guard<std::mutex> lock(g_state.mutex);
        observer = g_state.observer;
        context = g_state.context;
    }
    if (observer) observer(step, bytes, context);
}

}  // namespace plat_fault_detail
