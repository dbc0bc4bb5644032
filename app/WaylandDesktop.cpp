#include "app/WaylandDesktop.h"

#include <wayland-client.h>

#include <poll.h>

#include <QElapsedTimer>

#include <memory>
#include <vector>

namespace {

// A compositor that stops answering must not stop the program with it.
const int AnswerMs = 1000;

struct Output
{
    WaylandOutput seen;
    int transform = WL_OUTPUT_TRANSFORM_NORMAL;
    wl_output *proxy = nullptr;
};

void onGeometry(void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *,
                const char *, int32_t transform)
{
    auto *output = static_cast<Output *>(data);
    output->seen.position = QPoint(x, y);
    output->transform = transform;
}

void onMode(void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    if (flags & WL_OUTPUT_MODE_CURRENT)
        static_cast<Output *>(data)->seen.mode = QSize(width, height);
}

void onDone(void *, wl_output *)
{
}

void onScale(void *data, wl_output *, int32_t factor)
{
    static_cast<Output *>(data)->seen.scale = factor > 0 ? factor : 1;
}

void onName(void *data, wl_output *, const char *name)
{
    static_cast<Output *>(data)->seen.name = QString::fromUtf8(name);
}

void onDescription(void *, wl_output *, const char *)
{
}

const wl_output_listener outputListener = {onGeometry, onMode, onDone, onScale, onName, onDescription};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    if (qstrcmp(interface, wl_output_interface.name) != 0)
        return;
    auto *outputs = static_cast<std::vector<std::unique_ptr<Output>> *>(data);
    auto output = std::make_unique<Output>();
    // Version 4 adds the output's name; 2 its scale.
    const uint32_t bound = std::min<uint32_t>(version, 4);
    output->proxy = static_cast<wl_output *>(wl_registry_bind(registry, name, &wl_output_interface, bound));
    wl_output_add_listener(output->proxy, &outputListener, output.get());
    outputs->push_back(std::move(output));
}

void onGlobalRemove(void *, wl_registry *, uint32_t)
{
}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

void onSynced(void *data, wl_callback *, uint32_t)
{
    *static_cast<bool *>(data) = true;
}

const wl_callback_listener syncListener = {onSynced};

// wl_display_roundtrip with a time limit.
bool roundtrip(wl_display *display, const QElapsedTimer &clock)
{
    bool synced = false;
    wl_callback *callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &syncListener, &synced);
    while (!synced) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd ready = {wl_display_get_fd(display), POLLIN, 0};
        const int left = int(qMax<qint64>(0, AnswerMs - clock.elapsed()));
        if (poll(&ready, 1, left) <= 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            break;
    }
    wl_callback_destroy(callback);
    return synced;
}

} // namespace

namespace WaylandDesktop {

QList<WaylandOutput> outputs()
{
    QList<WaylandOutput> found;
    // The same compositor Qt connected to, found the same way.
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return found;
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<Output>> outputs;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &outputs);
    // The first answer lists the outputs, the second their modes.
    const bool answered = roundtrip(display, clock) && roundtrip(display, clock);
    for (const auto &output : outputs) {
        WaylandOutput seen = output->seen;
        // An output turned a quarter shows its mode the other way round.
        if (output->transform % 2 == 1)
            seen.mode.transpose();
        if (answered && !seen.mode.isEmpty())
            found << seen;
        wl_output_destroy(output->proxy);
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

} // namespace WaylandDesktop
