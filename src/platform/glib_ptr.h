// Move-only owners for GLib handles.
//
// GObjectPtr<T> holds one strong reference to a GObject. Ownership is explicit:
// adoptGObject() takes over a reference the caller already owns (a "new" or
// transfer-full result), retainGObject() adds a reference of its own.
// GUniquePtr<T> owns a plain GLib allocation released by its type's free
// function (GError, gchar, GKeyFile, GMainContext, ...).
#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>
#include <string>
#include <utility>

namespace tessivo {

template <typename T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    GObjectPtr(std::nullptr_t) {}
    ~GObjectPtr() { reset(); }

    GObjectPtr(const GObjectPtr&) = delete;
    GObjectPtr& operator=(const GObjectPtr&) = delete;
    GObjectPtr(GObjectPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    GObjectPtr& operator=(GObjectPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // Gives up ownership without releasing the reference.
    T* release() { return std::exchange(ptr_, nullptr); }
    void reset() {
        if (auto* p = std::exchange(ptr_, nullptr)) g_object_unref(p);
    }

    template <typename U> friend GObjectPtr<U> adoptGObject(U*);

private:
    explicit GObjectPtr(T* adopted) : ptr_(adopted) {}
    T* ptr_ = nullptr;
};

// Takes over a reference the caller owns (sinks a floating reference too).
template <typename T>
GObjectPtr<T> adoptGObject(T* ptr) {
    if (ptr && g_object_is_floating(ptr)) g_object_ref_sink(ptr);
    return GObjectPtr<T>(ptr);
}

// Adds a reference of its own to an object someone else owns.
template <typename T>
GObjectPtr<T> retainGObject(T* ptr) {
    if (ptr) g_object_ref(ptr);
    return adoptGObject(ptr);
}

template <typename T> struct GPtrDeleter;
#define TESSIVO_GPTR_DELETER(Type, freeFunction)                  \
    template <> struct GPtrDeleter<Type> {                        \
        void operator()(Type* p) const { if (p) freeFunction(p); } \
    };
TESSIVO_GPTR_DELETER(GError, g_error_free)
TESSIVO_GPTR_DELETER(gchar, g_free)
TESSIVO_GPTR_DELETER(gchar*, g_strfreev)
TESSIVO_GPTR_DELETER(GKeyFile, g_key_file_free)
TESSIVO_GPTR_DELETER(GMainContext, g_main_context_unref)
TESSIVO_GPTR_DELETER(GMainLoop, g_main_loop_unref)
TESSIVO_GPTR_DELETER(GSource, g_source_unref)
TESSIVO_GPTR_DELETER(GBytes, g_bytes_unref)
TESSIVO_GPTR_DELETER(GVariant, g_variant_unref)
#undef TESSIVO_GPTR_DELETER

template <typename T>
using GUniquePtr = std::unique_ptr<T, GPtrDeleter<T>>;

// Out-parameter helper: `GErrorOut error; f(..., error.out());`
class GErrorOut {
public:
    GError** out() { return &raw_; }
    ~GErrorOut() { if (raw_) g_error_free(raw_); }
    GErrorOut() = default;
    GErrorOut(const GErrorOut&) = delete;
    GErrorOut& operator=(const GErrorOut&) = delete;
    explicit operator bool() const { return raw_ != nullptr; }
    const GError* get() const { return raw_; }
    std::string message() const { return raw_ && raw_->message ? raw_->message : std::string(); }
    GUniquePtr<GError> take() { return GUniquePtr<GError>(std::exchange(raw_, nullptr)); }

private:
    GError* raw_ = nullptr;
};

}  // namespace tessivo
