#pragma once
// Reusable working buffers for the steps that need large scratch arrays on every call. A fresh
// value-initialised array of the largest contour size costs more than the step itself, so each element
// type keeps a stack of buffers: a ScratchVector takes the next one for its scope (nested and recursive
// callers each get their own) and gives it back on exit. A buffer handed out again keeps the contents of
// its last use beyond what the caller writes.
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

// Zero-filled memory straight from the system: its pages read as zero and are only made (and zeroed) when
// first touched, so an array sized for the largest contour costs what a call actually uses of it. Null
// when it cannot be had; scratchZeroedFree takes the same byte count.
void* scratchZeroedAlloc(size_t bytes);
void scratchZeroedFree(void* memory, size_t bytes);

// A growable array of plain records whose unwritten elements read as zero, as in a value-initialised
// std::vector, without the cost of filling them up front.
template <class T>
class ZeroedArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>);

  public:
    ZeroedArray() = default;
    ~ZeroedArray() { release(); }
    ZeroedArray(const ZeroedArray&) = delete;
    ZeroedArray& operator=(const ZeroedArray&) = delete;

    // At least n elements, the present ones kept: false (unchanged) when the memory cannot be had.
    bool grow(size_t n) {
        if (n <= size_) return true;
        if (n > static_cast<size_t>(-1) / sizeof(T)) return false;
        T* more = static_cast<T*>(scratchZeroedAlloc(n * sizeof(T)));
        if (!more) return false;
        if (size_) std::memcpy(static_cast<void*>(more), data_, size_ * sizeof(T));
        release();
        data_ = more;
        size_ = n;
        return true;
    }
    void release() {
        if (data_) scratchZeroedFree(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }
    T* data() { return data_; }
    const T* data() const { return data_; }
    size_t size() const { return size_; }
    T& operator[](size_t i) { return data_[i]; }

  private:
    T* data_ = nullptr;
    size_t size_ = 0;
};

namespace scratchdetail {

void registerRelease(void (*release)());

template <class T>
struct Pool {
    std::vector<std::unique_ptr<ZeroedArray<T>>> buffers;
    size_t used = 0;
};

// May throw on the first call when memory is short; the next call then tries again.
template <class T>
Pool<T>& pool() {
    static Pool<T>* p = [] {
        auto made = std::make_unique<Pool<T>>();  // before the registration, which may call it back
        registerRelease([] {
            Pool<T>& q = pool<T>();
            if (q.used == 0) q.buffers.clear();
        });
        return made.release();
    }();
    return *p;
}

}  // namespace scratchdetail

template <class T>
class ScratchVector {
  public:
    // At least n elements, or ok() false when they cannot be had (memory short for the pool itself
    // included: the callers then return their failure codes).
    explicit ScratchVector(size_t n) {
        try {
            pool_ = &scratchdetail::pool<T>();
            if (pool_->used == pool_->buffers.size())
                pool_->buffers.push_back(std::make_unique<ZeroedArray<T>>());
            v_ = pool_->buffers[pool_->used].get();
            ++pool_->used;
            ok_ = v_->grow(n);
        } catch (...) {
            ok_ = false;
        }
    }
    bool ok() const { return ok_; }
    ~ScratchVector() {
        if (v_) --pool_->used;
    }
    ScratchVector(const ScratchVector&) = delete;
    ScratchVector& operator=(const ScratchVector&) = delete;

    T* data() { return v_->data(); }
    T& operator[](size_t i) { return (*v_)[i]; }
    T* begin() { return v_->data(); }

  private:
    scratchdetail::Pool<T>* pool_ = nullptr;
    ZeroedArray<T>* v_ = nullptr;
    bool ok_ = true;
};

// Releases every buffer not in use (they are taken again on demand).
void scratchResetState();
