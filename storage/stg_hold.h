// A reference to a storage, stream or enumerator object of the engine,
// released at the end of its scope (every object interface has Release).
#pragma once

template <class T>
class StgHold {
public:
    StgHold() = default;
    explicit StgHold(T* p) : p_(p) {}
    ~StgHold() { reset(); }
    StgHold(const StgHold&) = delete;
    StgHold& operator=(const StgHold&) = delete;
    void reset() {
        if (p_) p_->ops->Release(p_);
        p_ = nullptr;
    }
    T** put() {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T* release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
