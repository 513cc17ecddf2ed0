// Small helpers for calling GLib from C++ without GObject's C-cast macros.
#pragma once

#include <glib-object.h>

#include <functional>
#include <utility>

namespace ostrela::linux_platform {

// An instance pointer is also a pointer to each of its parent types, as GObject's cast macros
// assume.
template <typename To, typename From>
To* as(From* instance) {
  return reinterpret_cast<To*>(instance);
}

// Owns one reference to a GObject of type T; copies take references of their
// own. Copied and let go on the main thread only, as the objects it holds are
// GTK's and WebKit's; a completion may carry one to the main thread by moving it.
template <typename T>
class GObjectPtr {
 public:
  GObjectPtr() = default;
  // Takes over a reference the caller owns, such as a constructor's.
  static GObjectPtr adopt(T* object) {
    GObjectPtr owner;
    owner.object_ = object;
    return owner;
  }
  // Takes a reference of its own.
  static GObjectPtr retain(T* object) {
    if (object != nullptr) g_object_ref(object);
    return adopt(object);
  }
  GObjectPtr(const GObjectPtr& other) : GObjectPtr(retain(other.object_)) {}
  GObjectPtr(GObjectPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GObjectPtr& operator=(GObjectPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~GObjectPtr() { reset(); }

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() {
    if (object_ != nullptr) g_object_unref(std::exchange(object_, nullptr));
  }

 private:
  T* object_ = nullptr;
};

template <typename Handler>
gulong connectSignal(gpointer instance, const char* signal, Handler handler, gpointer data) {
  return g_signal_connect_data(instance, signal, reinterpret_cast<GCallback>(handler), data,
                               nullptr, G_CONNECT_DEFAULT);
}

// Runs `work` on the default main context (the main thread), from any thread,
// always later from an idle source. Not g_main_context_invoke(): when no thread
// owns the context (after the application's run) it runs the work at once, on
// the calling thread.
inline void runOnMainContext(std::function<void()> work) {
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace ostrela::linux_platform
