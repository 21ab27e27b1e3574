// Owning handles for the two kinds of things the store hands out: reference-counted
// interfaces (CMapiRef, one reference, released when destroyed or reassigned) and
// MAPI memory blocks (CMapiBuffer, freed with MAPIFreeBuffer).
//
// A handle belongs to one thread at a time; copies of a CMapiRef share the object.
#pragma once

#include <utility>

#include "platform/mapi/mapi.h"

template <class T>
class CMapiRef {
public:
    CMapiRef() = default;
    CMapiRef(const CMapiRef& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    CMapiRef(CMapiRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    CMapiRef& operator=(const CMapiRef& other) {
        if (this != &other) Reset(other.p_, true);
        return *this;
    }
    CMapiRef& operator=(CMapiRef&& other) noexcept {
        if (this != &other) {
            Release();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~CMapiRef() { Release(); }

    // Takes over the reference the caller holds (an out-parameter's result).
    static CMapiRef Adopt(T* p) {
        CMapiRef ref;
        ref.p_ = p;
        return ref;
    }
    // Adds a reference of its own; the caller keeps its reference.
    static CMapiRef Share(T* p) {
        CMapiRef ref;
        ref.Reset(p, true);
        return ref;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Drops the held reference and holds p (adding a reference when addRef).
    void Reset(T* p = nullptr, bool addRef = false) {
        if (p && addRef) p->AddRef();
        T* old = std::exchange(p_, p);
        if (old) old->Release();
    }
    // Drops the held reference and gives the slot to an out-parameter.
    T** Put() {
        Release();
        return &p_;
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(p_, nullptr); }

private:
    void Release() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

    T* p_ = nullptr;
};

// A block from MAPIAllocateBuffer (with its MAPIAllocateMore blocks), freed once.
template <class T>
class CMapiBuffer {
public:
    CMapiBuffer() = default;
    explicit CMapiBuffer(T* p) : p_(p) {}
    CMapiBuffer(const CMapiBuffer&) = delete;
    CMapiBuffer& operator=(const CMapiBuffer&) = delete;
    CMapiBuffer(CMapiBuffer&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    CMapiBuffer& operator=(CMapiBuffer&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~CMapiBuffer() { Reset(); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset(T* p = nullptr) {
        T* old = std::exchange(p_, p);
        if (old) MAPIFreeBuffer(old);
    }
    T** Put() {
        Reset();
        return &p_;
    }
    T* Detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};
