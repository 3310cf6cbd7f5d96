#pragma once
// Reusable working buffers for the steps that need large scratch arrays on every call. A fresh
// value-initialised array of the largest contour size costs more than the step itself, so each element
// type keeps a stack of buffers: a ScratchVector takes the next one for its scope (nested and recursive
// callers each get their own) and gives it back on exit. A buffer handed out again keeps the contents of
// its last use beyond what the caller writes.
#include <cstddef>
#include <memory>
#include <vector>

namespace scratchdetail {

void registerRelease(void (*release)());

template <class T>
struct Pool {
    std::vector<std::unique_ptr<std::vector<T>>> buffers;
    size_t used = 0;
};

template <class T>
Pool<T>& pool() {
    static Pool<T>* p = [] {
        registerRelease([] {
            Pool<T>& q = pool<T>();
            if (q.used == 0) q.buffers.clear();
        });
        return new Pool<T>();
    }();
    return *p;
}

}  // namespace scratchdetail

template <class T>
class ScratchVector {
  public:
    // At least n elements, or ok() false when they cannot be had.
    explicit ScratchVector(size_t n) : pool_(scratchdetail::pool<T>()) {
        try {
            if (pool_.used == pool_.buffers.size())
                pool_.buffers.push_back(std::make_unique<std::vector<T>>());
            v_ = pool_.buffers[pool_.used].get();
            ++pool_.used;
            if (v_->size() < n) v_->resize(n);
        } catch (...) {
            ok_ = false;
        }
    }
    bool ok() const { return ok_; }
    ~ScratchVector() {
        if (v_) --pool_.used;
    }
    ScratchVector(const ScratchVector&) = delete;
    ScratchVector& operator=(const ScratchVector&) = delete;

    T* data() { return v_->data(); }
    T& operator[](size_t i) { return (*v_)[i]; }
    std::vector<T>& vec() { return *v_; }
    typename std::vector<T>::iterator begin() { return v_->begin(); }

  private:
    scratchdetail::Pool<T>& pool_;
    std::vector<T>* v_ = nullptr;
    bool ok_ = true;
};

// Releases every buffer not in use (they are taken again on demand).
void scratchResetState();
