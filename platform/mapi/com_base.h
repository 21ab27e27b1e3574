// Reference counting for the engine's objects and a small owning pointer for the
// references they hold on each other.
#pragma once

#include <atomic>
#include <utility>

#include "platform/mapi/mapi_guids.h"
#include "platform/mapi/mapi_interfaces.h"

namespace mapistore {

// Implements AddRef/Release for an interface I; the last Release deletes the object.
template <class I>
class RefCounted : public I {
public:
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    RefCounted() = default;
    ~RefCounted() override = default;

private:
    std::atomic<ULONG> refs_{1};
};

// True when the interface a caller asks an object for (OpenEntry, CreateMessage and the
// like) is one it serves: null (its own), IID_IUnknown or one of `served`.
template <class... Iids>
bool InterfaceServed(LPCIID iid, const Iids&... served) {
    return iid == nullptr || *iid == IID_IUnknown || ((*iid == served) || ...);
}

// Answers QueryInterface for an object whose one interface I is asked for by IID_IUnknown or
// by any of `served` (its own id and those of the interfaces it extends): hands out I with
// a new reference, or null and MAPI_E_INTERFACE_NOT_SUPPORTED for any other id.
template <class I, class... Iids>
HRESULT AnswerQueryInterface(I* self, REFIID riid, LPVOID* ppv, const Iids&... served) {
    if (ppv == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (InterfaceServed(&riid, served...)) {
        self->AddRef();
        *ppv = self;
        return S_OK;
    }
    *ppv = nullptr;
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
}

// Holds one reference; releases it when reset or destroyed.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller owns.
    explicit ComPtr(T* p) : p_(p) {}
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Adds a reference of its own to p.
    static ComPtr Share(T* p) {
        if (p) p->AddRef();
        return ComPtr(p);
    }
    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(p_, nullptr); }
    // For out-parameters: releases the current reference first.
    T** put() {
        reset();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

}  // namespace mapistore
