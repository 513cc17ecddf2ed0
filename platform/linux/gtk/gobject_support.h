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
