// F2 on Windows: RegisterHotKey for the window thread, delivered to its queue as WM_HOTKEY.

#include <windows.h>

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>

#include "app/qt/GlobalHotKey.h"

namespace {

class WinHotKey : public GlobalHotKey, public QAbstractNativeEventFilter {
  public:
    using GlobalHotKey::GlobalHotKey;
    ~WinHotKey() override { Unregister(); }

    bool RegisterF2() override {
        if (!registered_ && RegisterHotKey(nullptr, HOTKEY_ID_SHOWHIDE, 0, VK_F2)) {
            registered_ = true;
            QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
        }
        return registered_;
    }
    void Unregister() override {
        if (registered_) {
            QAbstractEventDispatcher::instance()->removeNativeEventFilter(this);
            UnregisterHotKey(nullptr, HOTKEY_ID_SHOWHIDE);
            registered_ = false;
        }
    }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        auto* msg = static_cast<MSG*>(message);
        if (type == "windows_generic_MSG" && msg->message == WM_HOTKEY &&
            msg->wParam == HOTKEY_ID_SHOWHIDE) {
            emit activated();
            return true;
        }
        return false;
    }

  private:
    bool registered_ = false;
};

}  // namespace

std::unique_ptr<GlobalHotKey> GlobalHotKey::Create(QObject* parent) {
    return std::make_unique<WinHotKey>(parent);
}
