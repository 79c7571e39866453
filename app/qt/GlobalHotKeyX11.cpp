// The hot key on X11: a passive grab on the root window, once for each combination of the
// lock modifiers (NumLock, CapsLock) with the key's own, so the key works whatever lock is on.

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QGuiApplication>

#include "app/qt/GlobalHotKey.h"

namespace {

constexpr xcb_keysym_t kKeysymF1 = 0xFFBE;  // F2 to F12 follow it
constexpr uint16_t kLockCombinations[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                          XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

class X11HotKey : public GlobalHotKey, public QAbstractNativeEventFilter {
  public:
    explicit X11HotKey(QObject* parent) : GlobalHotKey(parent) {
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
            conn_ = x11->connection();
        }
    }
    ~X11HotKey() override { Unregister(); }

    Result Register(const HotKeySpec& key) override {
        Unregister();
        if (conn_ == nullptr || key.Off()) {
            return Result::Unsupported;
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(conn_);
        if (symbols == nullptr) {
            return Result::Unsupported;
        }
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(
            symbols, kKeysymF1 + static_cast<xcb_keysym_t>(key.function - 1));
        xcb_key_symbols_free(symbols);
        if (codes == nullptr || codes[0] == XCB_NO_SYMBOL) {
            free(codes);
            return Result::Unsupported;
        }
        keycode_ = codes[0];
        free(codes);
        mods_ = static_cast<uint16_t>((key.ctrl ? XCB_MOD_MASK_CONTROL : 0) |
                                      (key.alt ? XCB_MOD_MASK_1 : 0) |
                                      (key.shift ? XCB_MOD_MASK_SHIFT : 0));
        for (uint16_t locks : kLockCombinations) {
            xcb_void_cookie_t cookie =
                xcb_grab_key_checked(conn_, 1, root_, static_cast<uint16_t>(mods_ | locks),
                                     keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(conn_, cookie)) {
                free(error);  // another program holds the key
                UngrabAll();
                return Result::Taken;
            }
        }
        registered_ = true;
        QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
        return Result::Held;
    }

    void Unregister() override {
        if (!registered_) {
            return;
        }
        registered_ = false;
        if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
            dispatcher->removeNativeEventFilter(this);
        }
        UngrabAll();
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") {
            return false;
        }
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
            return false;
        }
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        if (key->detail != keycode_ || key->event != root_) {
            return false;
        }
        emit activated();
        return true;
    }

  private:
    void UngrabAll() {
        for (uint16_t locks : kLockCombinations) {
            xcb_ungrab_key(conn_, keycode_, root_, static_cast<uint16_t>(mods_ | locks));
        }
        xcb_flush(conn_);
    }

    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_keycode_t keycode_ = 0;
    uint16_t mods_ = 0;
    bool registered_ = false;
};

// Platforms without X11 (offscreen, a Wayland session without XWayland) have no F2.
class NoHotKey : public GlobalHotKey {
  public:
    using GlobalHotKey::GlobalHotKey;
    Result Register(const HotKeySpec&) override { return Result::Unsupported; }
    void Unregister() override {}
};

}  // namespace

std::unique_ptr<GlobalHotKey> GlobalHotKey::Create(QObject* parent) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        return std::make_unique<X11HotKey>(parent);
    }
    return std::make_unique<NoHotKey>(parent);
}
