// Move-only owners for the C handles of the text renderer (Cairo, fontconfig,
// Pango boxed types). Pango objects proper are GObjects: see GObjectPtr.
#pragma once

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pango.h>

#include <cstddef>
#include <utility>

namespace tessivo {

// Owns one reference (or allocation) of T released by Release. adopt() takes
// over a reference the caller owns; there is no copying.
template <typename T, auto Release>
class NativeHandle {
public:
    NativeHandle() = default;
    NativeHandle(std::nullptr_t) {}
    static NativeHandle adopt(T* owned) { return NativeHandle(owned); }
    ~NativeHandle() { reset(); }

    NativeHandle(const NativeHandle&) = delete;
    NativeHandle& operator=(const NativeHandle&) = delete;
    NativeHandle(NativeHandle&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    NativeHandle& operator=(NativeHandle&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T* release() { return std::exchange(ptr_, nullptr); }
    void reset() {
        if (T* p = std::exchange(ptr_, nullptr)) Release(p);
    }

private:
    explicit NativeHandle(T* owned) : ptr_(owned) {}
    T* ptr_ = nullptr;
};

using CairoSurfacePtr = NativeHandle<cairo_surface_t, cairo_surface_destroy>;
using CairoPtr = NativeHandle<cairo_t, cairo_destroy>;
using CairoFontOptionsPtr = NativeHandle<cairo_font_options_t, cairo_font_options_destroy>;
using CairoPathPtr = NativeHandle<cairo_path_t, cairo_path_destroy>;
using FcConfigPtr = NativeHandle<FcConfig, FcConfigDestroy>;
using FcPatternPtr = NativeHandle<FcPattern, FcPatternDestroy>;
using FcFontSetPtr = NativeHandle<FcFontSet, FcFontSetDestroy>;
using FcObjectSetPtr = NativeHandle<FcObjectSet, FcObjectSetDestroy>;
using PangoFontDescriptionPtr = NativeHandle<PangoFontDescription, pango_font_description_free>;
using PangoFontMetricsPtr = NativeHandle<PangoFontMetrics, pango_font_metrics_unref>;

}  // namespace tessivo
